INSERT INTO tbl_Actions(TransactionID, ActionType, Detail) VALUES (&identity_1, 'LOGOUT', 'console');
