-- The state the CNPJ repair and its equivalent are compared on.
SELECT count(*), sum(mod(hash(CODIGO || '|' || coalesce(CNPJ, '~')), 1000000007)) FROM FORNECED;
