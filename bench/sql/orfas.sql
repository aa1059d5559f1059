-- Orphan formula removal on the live data, set-based: the three passes of
-- the repair as three DELETEs in one transaction. Run in C:\VITRALON\DADOS
-- with PEDIFORM.DB as the main database.
ATTACH 'Pedidos.DB' AS o;
ATTACH 'COMPEDID.DB' AS i;
BEGIN;
DELETE FROM main.PEDIFORM
 WHERE NOT EXISTS (SELECT 1 FROM o.Pedidos p
                    WHERE p.Estacao = PEDIFORM.Estacao AND p.NPedido = PEDIFORM.NPedido);
DELETE FROM i.COMPEDID
 WHERE NOT EXISTS (SELECT 1 FROM main.PEDIFORM f
                    WHERE f.Estacao = COMPEDID.Estacao AND f.NPedido = COMPEDID.NPedido
                      AND f.NFormula = COMPEDID.NFormula);
DELETE FROM main.PEDIFORM WHERE coalesce(NFormula, 0) = 0;
COMMIT;
