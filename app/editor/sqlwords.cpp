#include "app/editor/sqlwords.h"

namespace editor {

const QStringList& sqlKeywords() {
    static const QStringList words =
        QStringLiteral(
            "ADD ALL ALTER AND ANY AS ASC BEGIN BETWEEN BIGINT BINARY BIT BREAK BY CASCADE CASE "
            "CAST "
            "CATCH CHAR CHECK CLOSE COLUMN COMMIT CONSTRAINT CONTINUE CONVERT CREATE CROSS CURSOR "
            "DATABASE DATE DATETIME DATETIME2 DEALLOCATE DECIMAL DECLARE DEFAULT DELETE DESC "
            "DISTINCT "
            "DROP ELSE END EXCEPT EXEC EXECUTE EXISTS FETCH FLOAT FOR FOREIGN FROM FULL FUNCTION "
            "GO "
            "GOTO GRANT GROUP HAVING IDENTITY IF IMAGE IN INDEX INNER INSERT INT INTERSECT INTO IS "
            "JOIN KEY LEFT LIKE MERGE MONEY NCHAR NOCOUNT NOLOCK NOT NTEXT NULL NUMERIC NVARCHAR "
            "OF "
            "OFF ON OPEN OR ORDER OUTER OUTPUT OVER PARTITION PRIMARY PRINT PROC PROCEDURE "
            "RAISERROR "
            "REAL REFERENCES RETURN RETURNS REVOKE RIGHT ROLLBACK ROWCOUNT SCHEMA SELECT SET "
            "SMALLDATETIME SMALLINT SMALLMONEY TABLE TEXT THEN TIME TIMESTAMP TINYINT TOP TRAN "
            "TRANSACTION TRIGGER TRUNCATE TRY UNION UNIQUE UNIQUEIDENTIFIER UPDATE USE VALUES "
            "VARBINARY VARCHAR VIEW WAITFOR WHEN WHERE WHILE WITH")
            .split(u' ');
    return words;
}

const QStringList& sqlFunctions() {
    static const QStringList words =
        QStringLiteral(
            "ABS AVG CEILING CHARINDEX COALESCE COUNT COUNT_BIG CURRENT_TIMESTAMP CURRENT_USER "
            "DATALENGTH DATEADD DATEDIFF DATENAME DATEPART DAY DB_ID DB_NAME DENSE_RANK FLOOR "
            "FORMAT GETDATE GETUTCDATE HOST_NAME IIF ISDATE ISNULL ISNUMERIC LEFT LEN LOWER LTRIM "
            "MAX MIN MONTH NEWID NULLIF OBJECT_ID OBJECT_NAME PATINDEX POWER QUOTENAME RAND RANK "
            "REPLACE REPLICATE REVERSE RIGHT ROUND ROW_NUMBER RTRIM SCHEMA_NAME SCOPE_IDENTITY "
            "SIGN "
            "SPACE SQRT STR STUFF SUBSTRING SUM SUSER_SNAME SYSDATETIME SYSTEM_USER TRY_CAST "
            "TRY_CONVERT UPPER USER_NAME YEAR @@ERROR @@IDENTITY @@ROWCOUNT @@SERVERNAME @@SPID "
            "@@TRANCOUNT @@VERSION")
            .split(u' ');
    return words;
}

const QStringList& systemProcedures() {
    static const QStringList words =
        QStringLiteral(
            "sp_columns sp_databases sp_depends sp_executesql sp_help sp_helpdb sp_helpindex "
            "sp_helptext sp_lock sp_rename sp_spaceused sp_stored_procedures sp_tables sp_who "
            "sp_who2 xp_msver")
            .split(u' ');
    return words;
}

} // namespace editor
