-- Supplier CNPJs reduced to their clean form: the separators removed.
SET TERM ^ ;
EXECUTE BLOCK AS BEGIN
  UPDATE FORNECED
     SET CNPJ = upper(replace(replace(replace(replace(CNPJ, '.', ''), '/', ''), '-', ''), ' ', ''))
   WHERE CNPJ IS DISTINCT FROM
         upper(replace(replace(replace(replace(CNPJ, '.', ''), '/', ''), '-', ''), ' ', ''));
END^
SET TERM ; ^
COMMIT;
