-- The state the unit repair and its equivalent are compared on.
SELECT count(*), sum(mod(hash(CODIGO || '|' || coalesce(UNID, '~')), 1000000007)) FROM COMPONEN;
