-- The state the component-code repair and its equivalent are compared on.
SELECT count(*), sum(mod(hash(ESTACAO || '|' || NPEDIDO || '|' || NFORMULA || '|' || ITEM || '|' || coalesce(CODIGOCOMP, '~')), 1000000007)) FROM COMPEDID;
