-- Synonym groups: every synonym whose component exists takes its group.
-- Sinonimo.DB as the main database.
ATTACH 'Componen.DB' AS c;
UPDATE Sinonimo
   SET Grupo = (SELECT k.Grupo FROM c.Componen k WHERE k.Codigo = Sinonimo.Codigo)
 WHERE EXISTS (SELECT 1 FROM c.Componen k WHERE k.Codigo = Sinonimo.Codigo);
