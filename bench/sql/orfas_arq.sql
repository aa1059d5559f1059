-- Orphan formula removal in the dead-file archive (C:\VITRALON\ARQMORTO),
-- pediform.DB as the main database.
ATTACH 'pedidos.DB' AS o;
ATTACH 'Compedid.DB' AS i;
BEGIN;
DELETE FROM main.pediform
 WHERE NOT EXISTS (SELECT 1 FROM o.pedidos p
                    WHERE p.Estacao = pediform.Estacao AND p.NPedido = pediform.NPedido);
DELETE FROM i.Compedid
 WHERE NOT EXISTS (SELECT 1 FROM main.pediform f
                    WHERE f.Estacao = Compedid.Estacao AND f.NPedido = Compedid.NPedido
                      AND f.NFormula = Compedid.NFormula);
DELETE FROM main.pediform WHERE coalesce(NFormula, 0) = 0;
COMMIT;
