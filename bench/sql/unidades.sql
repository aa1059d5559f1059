-- Component units: 'gr' becomes 'g', 'lt' becomes 'l', every other unit in
-- lower case; no unit stays none. Units are compared as they are stored:
-- 'gr ' (with a blank) is not 'gr', though Firebird's = would say so.
UPDATE COMPONEN
   SET UNID = CASE lower(UNID) || '.' WHEN 'gr.' THEN 'g' WHEN 'lt.' THEN 'l' ELSE lower(UNID) END
 WHERE UNID IS NOT NULL;
COMMIT;
