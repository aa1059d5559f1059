-- The state the discount repair and its equivalent are compared on.
SELECT count(*), sum(mod(hash(CODIGO || '|' || coalesce(DESCONTO, -1)), 1000000007)) FROM COMPONEN;
