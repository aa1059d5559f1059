-- Doctor name abbreviation: lower bound, as for the clients.
-- INTER\Medicos.DB as the main database.
ATTACH '../DADOS/Medicos.DB' AS live;
INSERT INTO main.Medicos SELECT * FROM live.Medicos;
