-- Technical parameters: a factor or density that is zero or blank becomes 1.
-- Componen.DB as the main database.
BEGIN;
UPDATE Componen SET FatorCorrecao = 1 WHERE coalesce(FatorCorrecao, 0) = 0;
UPDATE Componen SET FatorDiluicao = 1 WHERE coalesce(FatorDiluicao, 0) = 0;
UPDATE Componen SET Densidade = 1 WHERE coalesce(Densidade, 0) = 0;
COMMIT;
