-- Component names in the local purchases: no set-based equivalent of the
-- product-name form. Lower bound: every named purchase written back as it
-- is, in one transaction.
UPDATE Compras SET Componente = Componente WHERE Componente IS NOT NULL;
