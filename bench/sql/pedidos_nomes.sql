-- Client names in the orders: no set-based equivalent, and the repair
-- applies row by row. Lower bound: every order with a name read and its name
-- written back with one prepared UPDATE, each in a transaction of its own.
SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE e VARCHAR(2);
  DECLARE n INTEGER;
  DECLARE m VARCHAR(40);
BEGIN
  FOR SELECT ESTACAO, NPEDIDO, NOME FROM PEDIDOS WHERE NOME IS NOT NULL INTO :e, :n, :m DO
    IN AUTONOMOUS TRANSACTION DO
      UPDATE PEDIDOS SET NOME = :m WHERE ESTACAO = :e AND NPEDIDO = :n;
END^
SET TERM ; ^
COMMIT;
