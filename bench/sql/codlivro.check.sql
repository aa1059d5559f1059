-- The state the book-code repair and its equivalent are compared on.
SELECT count(*), sum(mod(hash(ESTACAO || '|' || NPEDIDO || '|' || coalesce(CODLIVRO, -1)), 1000000007)), (SELECT max(CODLIVRO) FROM CONFIG) FROM PEDIDOS;
