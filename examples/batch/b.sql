INSERT INTO tbl_Transactions(TransactionID, StartedAt) VALUES (seq_Transactions.NEXTVAL, '2026-12-01 10:05:00');
COLUMN identity_2 NEW_VALUE identity_2 NOPRINT
SELECT seq_Transactions.CURRVAL identity_2 FROM DUAL;
INSERT INTO tbl_Actions(TransactionID, RelatedID, ActionType) VALUES (&identity_2, &identity_1, 'APPROVE');
INSERT INTO tbl_Actions(TransactionID, ActionType, Detail) VALUES (&identity_2, 'NOTE', NULL);
