// Sample databases: "Musterfirma" with related tables, pictures and long
// texts, and the big table Messwerte for fetch benchmarks.

#include "testserver/engine/collation.h"
#include "testserver/engine/engine.h"
#include "testserver/engine/lexer.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tds {

namespace {

// Collects errors of the setup batches; any error means a broken sample.
class SetupSink : public ResultSink {
public:
    std::string firstError;
    void columns(const std::vector<Column>&) override {}
    bool row(const std::vector<Value>&) override { return true; }
    void done(DoneKind, std::uint16_t, std::uint64_t, std::uint16_t) override {}
    void message(const Message& m) override {
        if (m.error && firstError.empty())
            firstError = m.text;
    }
    void databaseChanged(const std::string&, const std::string&) override {}
    void returnStatus(std::int32_t) override {}
    void returnValue(const std::string&, const ColumnType&, const Value&, bool) override {}
};

void put16(Blob& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(Blob& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

// A Windows bitmap (24 bits per pixel, rows bottom-up, each padded to four
// bytes) drawn by `pixel(x, y)` returning 0xRRGGBB.
template <typename F> Blob makeBitmap(int width, int height, F pixel) {
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t(3);
    const std::size_t size = 54 + rowBytes * static_cast<std::size_t>(height);
    Blob b(size, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<std::uint32_t>(size));
    put32(b, 10, 54);
    put32(b, 14, 40);
    put32(b, 18, static_cast<std::uint32_t>(width));
    put32(b, 22, static_cast<std::uint32_t>(height));
    put16(b, 26, 1);
    put16(b, 28, 24);
    put32(b, 34, static_cast<std::uint32_t>(rowBytes * static_cast<std::size_t>(height)));
    put32(b, 38, 2835); // 72 dpi
    put32(b, 42, 2835);
    for (int y = 0; y < height; ++y) {
        const std::size_t row = 54 + rowBytes * static_cast<std::size_t>(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = pixel(x, y);
            b[row + static_cast<std::size_t>(x) * 3] = static_cast<std::uint8_t>(c);
            b[row + static_cast<std::size_t>(x) * 3 + 1] = static_cast<std::uint8_t>(c >> 8);
            b[row + static_cast<std::size_t>(x) * 3 + 2] = static_cast<std::uint8_t>(c >> 16);
        }
    }
    return b;
}

namespace {

std::string longText(const std::string& subject, int paragraphs) {
    static const char* sentences[] = {
        "Die Lieferung erfolgt frei Haus, sofern der Bestellwert 250 € übersteigt.",
        "Größere Mengen können nach Rücksprache mit unserem Außendienst kurzfristig bereitgestellt "
        "werden.",
        "Bitte beachten Sie, dass sich die Öffnungszeiten an Feiertagen ändern können.",
        "Für Rückfragen stehen wir Ihnen werktags von 8 bis 17 Uhr gern zur Verfügung.",
        "Unsere Qualitätsprüfung umfasst Maß, Gewicht, Oberfläche und Verpackung jedes Stücks.",
        "Äußerst empfindliche Waren werden in stoßfester Spezialverpackung versandt.",
        "Übrigens: Mängel müssen innerhalb von vierzehn Tagen schriftlich angezeigt werden.",
        "Die Preise verstehen sich zuzüglich der gesetzlichen Mehrwertsteuer von 19 %.",
    };
    std::string t = subject + "\r\n\r\n";
    int k = 0;
    for (int p = 0; p < paragraphs; ++p) {
        for (int s = 0; s < 6; ++s)
            t += std::string(sentences[(k++) % 8]) + " ";
        t += "\r\n\r\n";
    }
    return t;
}

void exec(Session& s, const std::string& sqlText) {
    SetupSink sink;
    std::atomic<bool> cancel{false};
    s.executeBatch(sqlText, sink, cancel);
    if (!sink.firstError.empty())
        throw std::runtime_error("sample database: " + sink.firstError);
}

void execRpc(Session& s, const std::string& stmt, const std::string& decl,
             const std::vector<Value>& values) {
    SetupSink sink;
    std::atomic<bool> cancel{false};
    RpcCall call;
    call.procId = 10;
    RpcParam p;
    p.type.type = SqlType::NText;
    p.value = stmt;
    call.params.push_back(p);
    p.value = decl;
    call.params.push_back(p);
    for (const auto& v : values) {
        RpcParam a;
        a.value = v;
        call.params.push_back(a);
    }
    s.executeRpc(call, sink, cancel);
    if (!sink.firstError.empty())
        throw std::runtime_error("sample database: " + sink.firstError);
}

const char* kSchema = R"SQL(
CREATE TABLE Lieferanten (
    LieferantNr int NOT NULL CONSTRAINT PK_Lieferanten PRIMARY KEY,
    Firma nvarchar(60) NOT NULL,
    Ort nvarchar(40) NULL,
    Land nvarchar(30) NULL,
    Telefon varchar(24) NULL);
CREATE TABLE Kunden (
    KundenNr int NOT NULL CONSTRAINT PK_Kunden PRIMARY KEY,
    Firma nvarchar(60) NOT NULL,
    Ansprechpartner nvarchar(40) NULL,
    Strasse nvarchar(60) NULL,
    PLZ nchar(5) NULL,
    Ort nvarchar(40) NULL,
    Land nvarchar(30) NULL,
    Telefon varchar(24) NULL,
    Email varchar(60) NULL,
    KundeSeit datetime NULL,
    Rabatt decimal(4, 2) NOT NULL DEFAULT 0);
CREATE TABLE Mitarbeiter (
    MitarbeiterNr int NOT NULL CONSTRAINT PK_Mitarbeiter PRIMARY KEY,
    Nachname nvarchar(30) NOT NULL,
    Vorname nvarchar(30) NOT NULL,
    Position nvarchar(40) NULL,
    Geburtsdatum date NULL,
    Eingestellt datetime NULL,
    Gehalt money NULL,
    VorgesetzterNr int NULL CONSTRAINT FK_Mitarbeiter_Vorgesetzter REFERENCES Mitarbeiter (MitarbeiterNr));
CREATE TABLE Artikel (
    ArtikelNr int IDENTITY(1,1) NOT NULL,
    Bezeichnung nvarchar(60) NOT NULL,
    LieferantNr int NULL,
    Einzelpreis money NOT NULL,
    Lagerbestand smallint NULL,
    Auslaufartikel bit NOT NULL DEFAULT 0,
    CONSTRAINT PK_Artikel PRIMARY KEY CLUSTERED (ArtikelNr),
    CONSTRAINT FK_Artikel_Lieferanten FOREIGN KEY (LieferantNr) REFERENCES Lieferanten (LieferantNr));
CREATE TABLE Bestellungen (
    BestellNr int NOT NULL CONSTRAINT PK_Bestellungen PRIMARY KEY,
    KundenNr int NOT NULL CONSTRAINT FK_Bestellungen_Kunden REFERENCES Kunden (KundenNr),
    MitarbeiterNr int NULL CONSTRAINT FK_Bestellungen_Mitarbeiter REFERENCES Mitarbeiter (MitarbeiterNr),
    Bestelldatum datetime NOT NULL,
    Lieferdatum datetime NULL,
    Versandkosten money NULL,
    Bemerkung ntext NULL);
CREATE TABLE Positionen (
    BestellNr int NOT NULL CONSTRAINT FK_Positionen_Bestellungen REFERENCES Bestellungen (BestellNr),
    Position smallint NOT NULL,
    ArtikelNr int NOT NULL CONSTRAINT FK_Positionen_Artikel REFERENCES Artikel (ArtikelNr),
    Menge int NOT NULL CONSTRAINT CK_Positionen_Menge CHECK (Menge > 0),
    Einzelpreis money NOT NULL,
    Rabatt real NOT NULL DEFAULT 0,
    CONSTRAINT PK_Positionen PRIMARY KEY (BestellNr, Position));
CREATE TABLE Bilder (
    BildNr int NOT NULL CONSTRAINT PK_Bilder PRIMARY KEY,
    Name nvarchar(50) NOT NULL,
    Bild image NULL,
    Beschreibung ntext NULL);
CREATE TABLE [Spezial]]Tabelle] (
    Nr int NOT NULL PRIMARY KEY,
    [Text mit Leerzeichen] nvarchar(50) NULL,
    [Klammer]]Spalte] varchar(20) NULL);
CREATE TABLE Typen (
    TypNr int NOT NULL PRIMARY KEY,
    c_int int NULL, c_bigint bigint NULL, c_smallint smallint NULL, c_tinyint tinyint NULL, c_bit bit NULL,
    c_float float NULL, c_real real NULL, c_money money NULL, c_smallmoney smallmoney NULL,
    c_decimal decimal(18, 4) NULL, c_numeric numeric(9, 2) NULL,
    c_datetime datetime NULL, c_smalldatetime smalldatetime NULL, c_date date NULL, c_time time NULL,
    c_char char(10) NULL, c_varchar varchar(50) NULL, c_varcharmax varchar(max) NULL,
    c_nchar nchar(10) NULL, c_nvarchar nvarchar(50) NULL, c_nvarcharmax nvarchar(max) NULL,
    c_text text NULL, c_ntext ntext NULL, c_image image NULL,
    c_binary binary(8) NULL, c_varbinary varbinary(50) NULL, c_varbinarymax varbinary(max) NULL,
    c_uniqueidentifier uniqueidentifier NULL);
CREATE VIEW Bestelluebersicht AS
    SELECT b.BestellNr, b.Bestelldatum, k.Firma AS Kunde, k.Ort,
           m.Nachname AS Bearbeiter, COUNT(p.Position) AS Positionen,
           SUM(p.Menge * p.Einzelpreis * (1 - p.Rabatt)) AS Summe
    FROM Bestellungen b
    JOIN Kunden k ON k.KundenNr = b.KundenNr
    LEFT JOIN Mitarbeiter m ON m.MitarbeiterNr = b.MitarbeiterNr
    LEFT JOIN Positionen p ON p.BestellNr = b.BestellNr
    GROUP BY b.BestellNr, b.Bestelldatum, k.Firma, k.Ort, m.Nachname;
)SQL";

const char* kData = R"SQL(
INSERT INTO Lieferanten VALUES (1, N'Süßwaren Köhler GmbH', N'Lübeck', N'Deutschland', '0451-123456');
INSERT INTO Lieferanten VALUES (2, N'Bäckerei Groß & Söhne', N'München', N'Deutschland', '089-765432');
INSERT INTO Lieferanten VALUES (3, N'Käserei Älpler AG', N'Zürich', N'Schweiz', '044-2233445');
INSERT INTO Lieferanten VALUES (4, N'Österreichische Feinkost', N'Wien', N'Österreich', '01-5556667');
INSERT INTO Lieferanten VALUES (5, N'Brauhaus Weißenburg', N'Weißenburg', N'Deutschland', NULL);

INSERT INTO Kunden VALUES (1, N'Müller & Söhne OHG', N'Jürgen Müller', N'Hauptstraße 12', N'10115', N'Berlin', N'Deutschland', '030-1234567', 'info@mueller-soehne.example', '2001-03-15 00:00:00', 5.00);
INSERT INTO Kunden VALUES (2, N'Bäckerei Schäfer', N'Gisela Schäfer', N'Mühlenweg 3', N'20095', N'Hamburg', N'Deutschland', '040-998877', 'schaefer@example.org', '2003-07-01 00:00:00', 0);
INSERT INTO Kunden VALUES (3, N'Großhandel Weiß KG', N'Björn Weiß', N'Königsallee 88', N'40212', N'Düsseldorf', N'Deutschland', '0211-445566', NULL, '1999-11-30 00:00:00', 7.50);
INSERT INTO Kunden VALUES (4, N'Café Zürich', N'Anna Brändli', N'Bahnhofstrasse 1', N'8001 ', N'Zürich', N'Schweiz', '044-1112233', 'cafe@zuerich.example', '2004-02-29 00:00:00', 2.50);
INSERT INTO Kunden VALUES (5, N'Öko-Markt Süd', N'Ömer Yılmaz', N'Färberstraße 7', N'70173', N'Stuttgart', N'Deutschland', NULL, 'oeko@example.net', NULL, 0);
INSERT INTO Kunden VALUES (6, N'Wiener Würstelstand', N'Franz Gruber', N'Graben 21', N'1010 ', N'Wien', N'Österreich', '01-9988776', NULL, '2002-05-05 00:00:00', 0);
INSERT INTO Kunden VALUES (7, N'Fischhandel Nordsee', N'Heike Petersen', N'Hafenstraße 5', N'24103', N'Kiel', N'Deutschland', '0431-556677', 'fisch@nordsee.example', '2000-01-10 00:00:00', 3.00);
INSERT INTO Kunden VALUES (8, N'Getränke Überall', N'Ülkü Demir', N'Lindenallee 44', N'50667', N'Köln', N'Deutschland', '0221-334455', NULL, '2005-09-09 00:00:00', 10.00);
INSERT INTO Kunden VALUES (9, N'Metzgerei Maßmann', N'Klaus Maßmann', N'Am Markt 2', N'99084', N'Erfurt', N'Deutschland', '0361-221100', NULL, '1998-06-18 00:00:00', 0);
INSERT INTO Kunden VALUES (10, N'Bio-Hof Lüneburg', N'Sören Lütke', N'Heideweg 9', N'21335', N'Lüneburg', N'Deutschland', NULL, 'hof@example.com', '2005-01-03 00:00:00', 1.25);
INSERT INTO Kunden VALUES (11, N'Delikatessen Straßburger', N'Marie-Thérèse Roux', N'Rue du Dôme 4', N'67000', N'Straßburg', N'Frankreich', '+33 3 88 00 00 00', NULL, '2003-12-24 00:00:00', 0);
INSERT INTO Kunden VALUES (12, N'Kiosk am Eck', NULL, NULL, NULL, N'Leipzig', N'Deutschland', NULL, NULL, NULL, 0);

INSERT INTO Mitarbeiter VALUES (1, N'Schröder', N'Günther', N'Geschäftsführer', '1955-04-12', '1990-01-01 08:00:00', 9800.00, NULL);
INSERT INTO Mitarbeiter VALUES (2, N'Köhler', N'Märta', N'Vertriebsleiterin', '1968-09-23', '1995-03-01 08:00:00', 6450.50, 1);
INSERT INTO Mitarbeiter VALUES (3, N'Öztürk', N'Deniz', N'Außendienst', '1975-12-01', '2001-07-15 08:00:00', 4100.00, 2);
INSERT INTO Mitarbeiter VALUES (4, N'Weiß', N'Jörg', N'Innendienst', '1980-02-29', '2003-10-01 08:00:00', 3350.75, 2);
INSERT INTO Mitarbeiter VALUES (5, N'Brückner', N'Lena', N'Buchhaltung', '1972-06-06', '1998-11-16 08:00:00', 3900.00, 1);
INSERT INTO Mitarbeiter VALUES (6, N'Fuß', N'Änne', N'Auszubildende', '1987-08-08', '2005-08-01 08:00:00', 780.00, 4);

INSERT INTO Artikel (Bezeichnung, LieferantNr, Einzelpreis, Lagerbestand, Auslaufartikel) VALUES (N'Marzipanbrot 200 g', 1, 3.49, 120, 0);
INSERT INTO Artikel (Bezeichnung, LieferantNr, Einzelpreis, Lagerbestand, Auslaufartikel) VALUES (N'Lübecker Nusstorte', 1, 12.90, 15, 0);
INSERT INTO Artikel (Bezeichnung, LieferantNr, Einzelpreis, Lagerbestand, Auslaufartikel) VALUES (N'Brezeln (10 Stück)', 2, 4.20, 80, 0);
INSERT INTO Artikel (Bezeichnung, LieferantNr, Einzelpreis, Lagerbestand, Auslaufartikel) VALUES (N'Roggenmischbrot 1 kg', 2, 3.10, 40, 0);
INSERT INTO Artikel (Bezeichnung, LieferantNr, Einzelpreis, Lagerbestand, Auslaufartikel) VALUES (N'Bergkäse würzig', 3, 21.50, 22, 0);
INSERT INTO Artikel (Bezeichnung, LieferantNr, Einzelpreis, Lagerbestand, Auslaufartikel) VALUES (N'Emmentaler am Stück', 3, 17.80, 35, 0);
INSERT INTO Artikel (Bezeichnung, LieferantNr, Einzelpreis, Lagerbestand, Auslaufartikel) VALUES (N'Sachertorte Größe M', 4, 29.00, 8, 0);
INSERT INTO Artikel (Bezeichnung, LieferantNr, Einzelpreis, Lagerbestand, Auslaufartikel) VALUES (N'Kürbiskernöl 0,5 l', 4, 9.95, 60, 0);
INSERT INTO Artikel (Bezeichnung, LieferantNr, Einzelpreis, Lagerbestand, Auslaufartikel) VALUES (N'Weißbier hell (Kiste)', 5, 16.99, 200, 0);
INSERT INTO Artikel (Bezeichnung, LieferantNr, Einzelpreis, Lagerbestand, Auslaufartikel) VALUES (N'Dunkles Märzen (Kiste)', 5, 17.49, 150, 0);
INSERT INTO Artikel (Bezeichnung, LieferantNr, Einzelpreis, Lagerbestand, Auslaufartikel) VALUES (N'Zuckerhut „Spezial“', 1, 1.99, 0, 1);
INSERT INTO Artikel (Bezeichnung, LieferantNr, Einzelpreis, Lagerbestand, Auslaufartikel) VALUES (N'Geschenkkorb Feinkost', NULL, 49.00, 5, 0);
)SQL";

} // namespace

void createSampleDatabase(const std::string& dataDir) {
    if (fs::exists(fs::path(dataDir) / "Musterfirma.db"))
        return;
    fs::create_directories(dataDir);
    ServerConfig cfg;
    cfg.dataDir = dataDir;
    cfg.logins["sample"] = "sample";
    Session s(cfg);
    s.login("sample", "sample", "master");
    try {
        exec(s, "CREATE DATABASE Musterfirma");
        exec(s, "USE Musterfirma");
        exec(s, "BEGIN TRAN");
        exec(s, kSchema);
        exec(s, kData);
        // Orders with their items, generated but always the same.
        std::string orders;
        int position = 0;
        for (int b = 1; b <= 30; ++b) {
            const int kunde = (b * 7) % 12 + 1;
            const int mitarbeiter = b % 5 == 0 ? 0 : (b % 4) + 2;
            char line[512];
            std::snprintf(
                line, sizeof line,
                "INSERT INTO Bestellungen VALUES (%d, %d, %s, '2005-%02d-%02d %02d:%02d:00', %s, "
                "%d.%02d, %s);\n",
                10000 + b, kunde, mitarbeiter ? std::to_string(mitarbeiter).c_str() : "NULL",
                (b % 12) + 1, (b * 3) % 28 + 1, 8 + b % 9, (b * 13) % 60,
                b % 6 == 0 ? "NULL"
                           : ("'2005-" + std::string(b % 12 + 1 < 10 ? "0" : "") +
                              std::to_string(b % 12 + 1) + "-28 10:00:00'")
                                 .c_str(),
                b % 4 * 3, (b * 17) % 100,
                b % 3 == 0 ? "N'Bitte vor 12 Uhr liefern – Hintereingang benutzen.'" : "NULL");
            orders += line;
            for (int p = 1; p <= b % 4 + 1; ++p) {
                const int artikel = (b * 5 + p * 3) % 12 + 1;
                std::snprintf(
                    line, sizeof line,
                    "INSERT INTO Positionen (BestellNr, Position, ArtikelNr, Menge, Einzelpreis, "
                    "Rabatt) "
                    "SELECT %d, %d, %d, %d, Einzelpreis, %s FROM Artikel WHERE ArtikelNr = %d;\n",
                    10000 + b, p, artikel, (b + p) % 9 + 1, p == 2 ? "0.1" : "0", artikel);
                orders += line;
                ++position;
            }
        }
        exec(s, orders);
        // Pictures: a few real bitmaps, one row whose bytes are no picture and one without.
        const std::vector<std::pair<std::string, Blob>> pictures = {
            {"Rotes Quadrat", makeBitmap(16, 16, [](int, int) { return 0xFF0000u; })},
            {"Farbverlauf", makeBitmap(64, 48,
                                       [](int x, int y) {
                                           return static_cast<std::uint32_t>(
                                               (x * 4) << 16 | (y * 5) << 8 | (255 - x * 4));
                                       })},
            {"Schachbrett", makeBitmap(100, 75,
                                       [](int x, int y) {
                                           return ((x / 10 + y / 10) % 2) ? 0x000000u : 0xFFFFFFu;
                                       })},
            {"Grüne Streifen",
             makeBitmap(33, 21, [](int x, int) { return (x % 6 < 3) ? 0x00A000u : 0xFFFF00u; })},
            {"Blauer Balken", makeBitmap(200, 10,
                                         [](int x, int) {
                                             return static_cast<std::uint32_t>(0x0000FF |
                                                                               ((x % 256) << 8));
                                         })},
        };
        int nr = 1;
        for (const auto& [name, bmp] : pictures) {
            execRpc(s, "INSERT INTO Bilder VALUES (@P1, @P2, @P3, @P4)",
                    "@P1 int, @P2 nvarchar(50), @P3 image, @P4 ntext",
                    {static_cast<std::int64_t>(nr), name, bmp,
                     longText("Bild „" + name + "“", 6 + nr * 3)});
            ++nr;
        }
        const std::string notBmp = "Dies ist kein Bild, sondern nur Text in einer Bildspalte.";
        execRpc(s, "INSERT INTO Bilder VALUES (@P1, @P2, @P3, @P4)",
                "@P1 int, @P2 nvarchar(50), @P3 image, @P4 ntext",
                {static_cast<std::int64_t>(nr++), std::string("Kein Bild"),
                 Blob(notBmp.begin(), notBmp.end()),
                 std::string("Die Bytes dieser Zeile sind keine Bitmap.")});
        execRpc(s, "INSERT INTO Bilder VALUES (@P1, @P2, NULL, NULL)", "@P1 int, @P2 nvarchar(50)",
                {static_cast<std::int64_t>(nr++), std::string("Ohne Bild")});

        exec(s,
             "INSERT INTO [Spezial]]Tabelle] VALUES (1, N'erste Zeile', 'a]b'); "
             "INSERT INTO [Spezial]]Tabelle] VALUES (2, N'zweite; DROP TABLE Kunden --', '[x]')");
        const Blob raw = {0xDE, 0xAD, 0xBE, 0xEF};
        execRpc(s,
                "INSERT INTO Typen VALUES (1, 42, 9007199254740993, -7, 255, 1, 3.25, 1.5, "
                "123.4567, 2.5, 1234.5678, "
                "999.99, '2024-02-29 13:14:15.500', '2024-02-29 13:14:00', '2024-02-29', "
                "'13:14:15.1234567', 'abc', "
                "'Größe', @P1, N'äöü', N'Grüße €', @P2, 'Text', N'Ünïcödé ntext', @P3, "
                "0x0001020304050607, 0xBEEF, @P3, "
                "'6F9619FF-8B86-D011-B42D-00C04FC964FF')",
                "@P1 varchar(max), @P2 nvarchar(max), @P3 varbinary(max)",
                {std::string(5000, 'x'), longText("Lang", 4), raw});
        // Money and decimal live in SQLite numbers: extremes within the 15
        // significant digits a number with a fraction keeps there.
        exec(s, "INSERT INTO Typen VALUES (2, -2147483648, -9223372036854775808, -32768, 0, 0, "
                "-1.7976931348623157E+308, "
                "-3.4E+38, -92233720368.5477, -214748.3648, -99999999999.9999, -9999999.99, "
                "'1753-01-01 00:00:00.000', '1900-01-01 00:00:00', '0001-01-01', '00:00:00', '', "
                "'', '', N'', N'', N'', "
                "'', N'', 0x, 0x00, 0x, 0x, '00000000-0000-0000-0000-000000000000')");
        exec(s, "INSERT INTO Typen (TypNr) VALUES (3)");
        exec(s, "COMMIT");
    } catch (...) {
        std::atomic<bool> cancel{false};
        SetupSink sink;
        s.executeBatch("USE master", sink, cancel);
        std::error_code ec;
        fs::remove(fs::path(dataDir) / "Musterfirma.db", ec);
        throw;
    }
}

void createBigRows(const std::string& dataDir, std::int64_t n) {
    createSampleDatabase(dataDir);
    sqlite3* db = nullptr;
    const std::string path = (fs::path(dataDir) / "Musterfirma.db").string();
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        throw std::runtime_error("cannot open " + path);
    }
    auto run = [&](const char* q) {
        char* err = nullptr;
        if (sqlite3_exec(db, q, nullptr, nullptr, &err) != SQLITE_OK) {
            std::string msg = err ? err : "error";
            sqlite3_free(err);
            sqlite3_close_v2(db);
            throw std::runtime_error("Messwerte: " + msg);
        }
    };
    sqlite3_busy_timeout(db, 10000);
    sql::registerCollations(db);
    // A rollback journal in memory writes each page once; WAL would write the
    // whole table twice (log, then checkpoint). Without exclusive access the
    // mode stays WAL, which is only slower.
    sqlite3_exec(db, "PRAGMA journal_mode=MEMORY", nullptr, nullptr, nullptr);
    run("PRAGMA synchronous=OFF; PRAGMA cache_size=-65536;");
    run("BEGIN");
    run("DROP TABLE IF EXISTS Messwerte");
    run("CREATE TABLE Messwerte (\"Nr\" INTEGER NOT NULL CONSTRAINT \"PK_Messwerte\" PRIMARY KEY, "
        "\"Betrag\" money NULL, "
        "\"Zeitpunkt\" datetime NULL, \"Kennung\" varchar(40) NULL COLLATE NOCASE, \"Bezeichnung\" "
        "nvarchar(100) NULL "
        "COLLATE NOCASE, \"Messwert\" float NULL, \"Gueltig\" bit NOT NULL)");
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO Messwerte VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)", -1, &st,
                       nullptr);
    char when[32], code[48], label[128];
    for (std::int64_t i = 1; i <= n; ++i) {
        sqlite3_bind_int64(st, 1, i);
        sqlite3_bind_double(st, 2, static_cast<double>(i % 100000) / 100.0 + 0.0025);
        const std::int64_t seconds = i * 37;
        std::snprintf(when, sizeof when, "2005-%02d-%02d %02d:%02d:%02d.%03d",
                      static_cast<int>(seconds / 2419200 % 12) + 1,
                      static_cast<int>(seconds / 86400 % 28) + 1,
                      static_cast<int>(seconds / 3600 % 24), static_cast<int>(seconds / 60 % 60),
                      static_cast<int>(seconds % 60), static_cast<int>(i % 1000 / 10 * 10));
        sqlite3_bind_text(st, 3, when, -1, SQLITE_STATIC);
        std::snprintf(code, sizeof code, "MW-%08lld", static_cast<long long>(i));
        sqlite3_bind_text(st, 4, code, -1, SQLITE_STATIC);
        std::snprintf(label, sizeof label, "Messpunkt %lld – Fühler %c, Höhe %d m",
                      static_cast<long long>(i), static_cast<char>('A' + i % 26),
                      static_cast<int>(i % 3000));
        sqlite3_bind_text(st, 5, label, -1, SQLITE_STATIC);
        if (i % 97 == 0)
            sqlite3_bind_null(st, 6);
        else
            sqlite3_bind_double(st, 6, std::sin(static_cast<double>(i) / 1000.0) * 100.0);
        sqlite3_bind_int(st, 7, i % 5 != 0);
        if (sqlite3_step(st) != SQLITE_DONE) {
            const std::string msg = sqlite3_errmsg(db);
            sqlite3_finalize(st);
            sqlite3_close_v2(db);
            throw std::runtime_error("Messwerte: " + msg);
        }
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    run("COMMIT");
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
}

} // namespace tds
