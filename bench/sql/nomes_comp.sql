-- Component names: no set-based equivalent. Lower bound: every name read
-- and written back with one prepared UPDATE, in one transaction; the local
-- purchases follow (nomes_comp_compras.sql).
SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE c VARCHAR(20);
  DECLARE k VARCHAR(70);
BEGIN
  FOR SELECT CODIGO, COMPONENTE FROM COMPONEN INTO :c, :k DO
    UPDATE COMPONEN SET COMPONENTE = :k WHERE CODIGO = :c;
END^
SET TERM ; ^
COMMIT;
