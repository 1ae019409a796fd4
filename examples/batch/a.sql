INSERT INTO tbl_Transactions(TransactionID, StartedAt) VALUES (seq_Transactions.NEXTVAL, '2026-12-01 10:00:00');
COLUMN identity_1 NEW_VALUE identity_1 NOPRINT
SELECT seq_Transactions.CURRVAL identity_1 FROM DUAL;
INSERT INTO tbl_Authentications(AuthID, UserName) VALUES (seq_Authentications.NEXTVAL, 'operator1');
INSERT INTO tbl_groups(GroupID, TransactionID, Name) VALUES (seq_groups.NEXTVAL, &identity_1, 'night shift');
INSERT INTO tbl_Actions(TransactionID, ActionType, Detail) VALUES (&identity_1, 'LOGIN', 'console');
UPDATE tbl_Settings SET Value = 'on' WHERE Name = 'audit';
