-- Component codes of the order items, from the registry, matched by name:
-- one UPDATE over the items, each looking its component up by the unique
-- name index.
UPDATE COMPEDID i
   SET CODIGOCOMP = (SELECT substring(k.CODIGO FROM 1 FOR 20) FROM COMPONEN k WHERE k.COMPONENTE = i.COMPONENTE)
 WHERE EXISTS (SELECT 1 FROM COMPONEN k WHERE k.COMPONENTE = i.COMPONENTE);
COMMIT;
