-- CRM correction. Orders: one UPDATE reducing the first 20 characters of
-- every non-empty CRM to its digits, by nested replace() over the characters
-- the sample's CRMs hold (the letters of "CRM" and of the state codes, '-',
-- '.', '/', blank); a CRM without digits becomes blank. Doctors: no
-- set-based equivalent (a doctor whose digit form another holds is
-- reported, not changed); the lower bound is one full read of Medicos.DB in
-- name order. Pedidos.DB as the main database.
ATTACH 'Medicos.DB' AS m;
SELECT count(*), sum(length(CRM)), sum(length(Nome))
  FROM (SELECT * FROM m.Medicos INDEXED BY "Medicos$Nome" ORDER BY Nome, CRM, Especialidade);
UPDATE Pedidos
   SET CRM = nullif(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(substr(CRM, 1, 20), 'A', ''), 'B', ''), 'C', ''), 'D', ''), 'E', ''), 'F', ''), 'G', ''), 'J', ''), 'L', ''), 'M', ''), 'O', ''), 'P', ''), 'R', ''), 'S', ''), '-', ''), '.', ''), '/', ''), ' ', ''), '')
 WHERE CRM IS NOT NULL AND CRM <> '';
