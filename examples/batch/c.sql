INSERT INTO tbl_Transactions(TransactionID, StartedAt) VALUES (seq_Transactions.NEXTVAL, '2026-12-01 11:00:00');
COLUMN identity_1 NEW_VALUE identity_1 NOPRINT
SELECT seq_Transactions.CURRVAL identity_1 FROM DUAL;
INSERT INTO tbl_Actions(TransactionID, ActionType, Detail) VALUES (&identity_1, 'EXPORT', '&identity_1');
INSERT INTO tbl_Actions(TransactionID, ActionType, Detail) VALUES (&identity_3, 'LOGOUT', 'console');
