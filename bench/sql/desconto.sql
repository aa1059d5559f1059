-- Default maximum discount (10 %) on every component without one.
UPDATE COMPONEN SET DESCONTO = 10 WHERE coalesce(DESCONTO, 0) = 0;
COMMIT;
