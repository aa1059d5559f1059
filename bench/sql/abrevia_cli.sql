-- Client name abbreviation: no set-based equivalent (the house style is a
-- program). Lower bound: copying every live record into the interim copy,
-- without abbreviating. INTER\Clientes.DB as the main database.
ATTACH '../DADOS/Clientes.DB' AS live;
INSERT INTO main.Clientes SELECT * FROM live.Clientes;
