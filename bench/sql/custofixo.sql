-- Fixed cost reset: the repair's own statement. Componen.DB as the main
-- database.
update componen set CustoFixo = 0 where GRUPO = 'CAP' or GRUPO = 'EMB' or GRUPO = 'EXC';
