-- Book codes: the orders with a doctor and without a code numbered in order
-- of station and order number, after the last code in CONFIG.
SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE c INTEGER;
  DECLARE e VARCHAR(2);
  DECLARE n INTEGER;
BEGIN
  c = coalesce((SELECT FIRST 1 CODLIVRO FROM CONFIG), 0);
  FOR SELECT ESTACAO, NPEDIDO FROM PEDIDOS
       WHERE MEDICO IS NOT NULL AND CODLIVRO IS NULL
       ORDER BY ESTACAO, NPEDIDO
      INTO :e, :n DO
  BEGIN
    c = c + 1;
    UPDATE PEDIDOS SET CODLIVRO = :c WHERE ESTACAO = :e AND NPEDIDO = :n;
  END
  UPDATE CONFIG SET CODLIVRO = :c;
END^
SET TERM ; ^
COMMIT;
