-- Formula names: no set-based equivalent (the product-name form is a
-- program). Lower bound: every row read and its name written back with one
-- prepared UPDATE, in one transaction.
SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE c INTEGER;
  DECLARE f VARCHAR(50);
BEGIN
  FOR SELECT CODIGOFORM, FORMULA FROM FORMULAS INTO :c, :f DO
    UPDATE FORMULAS SET FORMULA = :f WHERE CODIGOFORM = :c;
END^
SET TERM ; ^
COMMIT;
