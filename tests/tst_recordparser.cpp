// The simdjson reader of the JSON columns against the QJsonDocument reference, on fixed
// corner cases and a generated corpus, and the fast number text against QString::number.

#include "ProductRowCodec.h"
#include "RecordJsonParser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

QString describe(const RecordJsonParser::HoleList &holes)
{
    QStringList parts;
    for (const auto &h : holes)
        parts << QStringLiteral("{%1,%2,%3,%4}").arg(h->idx).arg(h->status).arg(h->position, h->value);
    return parts.join(QLatin1Char(' '));
}

QString describe(const RecordJsonParser::ApeList &apes)
{
    QStringList parts;
    for (const auto &a : apes) {
        QStringList types;
        for (const QString &t : a->ngtypes)
            types << (t.isNull() ? QStringLiteral("<null>") : t);
        parts << QStringLiteral("{%1,%2,%3,[%4]}").arg(a->idx).arg(a->status).arg(a->position, types.join(QLatin1Char('|')));
    }
    return parts.join(QLatin1Char(' '));
}

// Empty and null texts both count as "" here, as they do for the views.
bool sameResults(const QByteArray &input, QString *why)
{
    const QString fastHoles = describe(RecordJsonParser::parseHoles(input));
    const QString qtHoles = describe(RecordJsonParser::parseHolesQt(input));
    const QString fastApes = describe(RecordJsonParser::parseApes(input));
    const QString qtApes = describe(RecordJsonParser::parseApesQt(input));
    // The worker's entry: the column's text, converted to UTF-8 without QString::toUtf8.
    const QString text = QString::fromUtf8(input);
    const QByteArray textUtf8 = text.toUtf8();
    const bool sameText = describe(RecordJsonParser::parseHoles(text)) == describe(RecordJsonParser::parseHolesQt(textUtf8))
                          && describe(RecordJsonParser::parseApes(text)) == describe(RecordJsonParser::parseApesQt(textUtf8));
    if (fastHoles == qtHoles && fastApes == qtApes && sameText)
        return true;
    *why = QStringLiteral("%6input %1\n holes fast %2\n holes qt   %3\n apes fast  %4\n apes qt    %5")
               .arg(QString::fromLatin1(input.toPercentEncoding(" []{}:,\"'.-+"))
                        .left(400),
                    fastHoles, qtHoles, fastApes, qtApes)
               .arg(sameText ? QString() : QStringLiteral("(as text) "));
    return false;
}

QByteArray holeJson(const QByteArray &idx, const QByteArray &status, const QByteArray &position, const QByteArray &value)
{
    return "{\"idx\":" + idx + ",\"position\":" + position + ",\"status\":" + status + ",\"value\":" + value + "}";
}

// Bits of JSON that are known to separate readers.
const char *const kFragments[] = {
    "0", "-0", "-0.0", "0.0", "0e0", "1e-400", "1e400", "-1e400", "4.9e-324", "2.2250738585072014e-308",
    "1.7976931348623157e308", "1.7976931348623159e308", "1e308", "9223372036854775807", "9223372036854775808",
    "-9223372036854775808", "-9223372036854775809", "18446744073709551615", "18446744073709551616",
    "123456789012345678901234567890", "2147483647", "2147483648", "-2147483648", "-2147483649", "2147483647.0",
    "1.5", "2.0", "1E2", "1e+2", "1.", ".5", "01", "-", "+1", "0x10", "1.5e", "Infinity", "NaN", "true",
    "false", "null", "\"\"", "\"1\"", "\"\\u0000\"", "\"\\ud800\"", "\"\\udc00\"", "\"\\ud83d\\ude00\"",
    "\"\\ud800\\u0041\"", "\"\xe5\x88\x92\xe4\xbc\xa4\"", "\"\xff\"", "\"\xed\xa0\x80\"", "\"\xef\xbf\xbe\"",
    "\"\xf4\x8f\xbf\xbf\"", "\"\xc0\xaf\"", "\"a\tb\"", "\"a\x01\"", "\"\\a\"", "\"\\/\"", "[]", "{}",
    "[1,]", "{\"a\":1,}", "[[[[]]]]", "1.0000000000000000000000001", "0.1000000000000000055511151231257827",
    "1.015625", "1234565", "-1234565", "999999.5", "0.0000125", "1e-5", "100000", "999999", "1000000",
};

// Half of the generated documents use only fragments that Qt accepts, so that the fast path
// is exercised rather than its fallback.
bool g_validOnly = false;

const QList<QByteArray> &validFragments()
{
    static const QList<QByteArray> valid = [] {
        QList<QByteArray> list;
        for (const char *fragment : kFragments) {
            QJsonParseError error;
            QJsonDocument::fromJson("[" + QByteArray(fragment) + "]", &error);
            if (error.error == QJsonParseError::NoError)
                list << fragment;
        }
        return list;
    }();
    return valid;
}

QByteArray randomFragment(QRandomGenerator &rng)
{
    if (g_validOnly) {
        if (rng.bounded(12))
            return QByteArray::number(rng.bounded(100) - 10);
        return validFragments().at(rng.bounded(validFragments().size()));
    }
    return kFragments[rng.bounded(int(sizeof kFragments / sizeof *kFragments))];
}

QByteArray randomNumber(QRandomGenerator &rng)
{
    switch (rng.bounded(6)) {
    case 0:
        return QByteArray::number(rng.bounded(-5, 40));
    case 1:
        return QByteArray::number(double(float(rng.bounded(200.0) - 20.0)), 'g', 17);
    case 2:
        return QByteArray::number(7.9 + rng.bounded(0.2), 'g', rng.bounded(1, 18));
    case 3: {
        quint64 bits = rng.generate64();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d))
            d = 1.0;
        return QByteArray::number(d, 'g', 17);
    }
    case 4:
        return QByteArray::number(qint64(rng.generate64()));
    default:
        return randomFragment(rng);
    }
}

QByteArray randomValue(QRandomGenerator &rng)
{
    switch (rng.bounded(4)) {
    case 0:
        return randomNumber(rng);
    case 1:
        return rng.bounded(2) ? "true" : "false";
    default:
        return randomFragment(rng);
    }
}

QByteArray randomItem(QRandomGenerator &rng)
{
    QList<QByteArray> members;
    if (rng.bounded(10))
        members << "\"idx\":" + randomValue(rng);
    if (rng.bounded(10))
        members << "\"status\":" + (rng.bounded(4) ? QByteArray(rng.bounded(2) ? "true" : "false") : randomValue(rng));
    if (rng.bounded(10))
        members << "\"position\":" + randomNumber(rng);
    if (rng.bounded(10))
        members << "\"value\":" + randomNumber(rng);
    if (rng.bounded(10)) {
        QByteArray types = "[";
        const int n = rng.bounded(4);
        for (int i = 0; i < n; ++i) {
            if (i)
                types += ',';
            types += rng.bounded(3) ? QByteArray("\"\xe5\x88\x92\xe4\xbc\xa4\"") : randomValue(rng);
        }
        members << "\"ngtypes\":" + (rng.bounded(8) ? types + "]" : randomValue(rng));
    }
    if (rng.bounded(6) == 0)
        members << "\"idx\":" + randomValue(rng); // duplicate key
    if (rng.bounded(6) == 0)
        members << "\"extra\":" + randomValue(rng);
    std::shuffle(members.begin(), members.end(), rng);
    QByteArray out = "{";
    for (int i = 0; i < members.size(); ++i) {
        if (i)
            out += rng.bounded(20) ? "," : " , ";
        out += members.at(i);
    }
    return out + "}";
}

QByteArray randomDocument(QRandomGenerator &rng)
{
    QByteArray doc = "[";
    const int n = rng.bounded(25);
    for (int i = 0; i < n; ++i) {
        if (i)
            doc += ',';
        doc += rng.bounded(12) ? randomItem(rng) : randomValue(rng);
    }
    return doc + "]";
}

QByteArray mutate(QByteArray doc, QRandomGenerator &rng)
{
    const int edits = rng.bounded(1, 4);
    for (int e = 0; e < edits && !doc.isEmpty(); ++e) {
        const int at = rng.bounded(doc.size());
        switch (rng.bounded(6)) {
        case 0:
            doc[at] = char(rng.bounded(256));
            break;
        case 1:
            doc.remove(at, rng.bounded(1, 8));
            break;
        case 2:
            doc.insert(at, randomFragment(rng));
            break;
        case 3:
            doc.insert(at, "\\ue\0\xff\r\n"[rng.bounded(7)]);
            break;
        case 4:
            doc.truncate(at);
            break;
        default:
            doc.append(rng.bounded(2) ? QByteArray(" \t\r\n") : randomFragment(rng));
            break;
        }
    }
    return doc;
}

} // namespace

class TestRecordParser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsRules_data();
    void readsRules();
    void agreesOnCornerCases_data();
    void agreesOnCornerCases();
    void agreesOnGeneratedCorpus();
    void panelTextsTakeTheFastPath();
    void numberTextMatchesQt_data();
    void numberTextMatchesQt();
    void numberTextMatchesQtOnRandomDoubles();
};

void TestRecordParser::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestRecordParser::readsRules_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("holes");
    QTest::addColumn<QString>("apes");

    const QByteArray hole = holeJson("0", "true", "5.300000190734863", "8.0123456");
    QTest::newRow("written by the panel") << "[" + hole + "]" << "{0,1,5.3,8.01235}" << "";
    QTest::newRow("empty") << QByteArray() << "" << "";
    QTest::newRow("invalid") << "[" + hole << "" << "";
    QTest::newRow("object at top") << hole << "" << "";
    QTest::newRow("garbage after array") << "[" + hole + "]x" << "" << "";
    QTest::newRow("missing value")
        << "[" + hole + ",{\"idx\":1,\"position\":1,\"status\":true}," + holeJson("2", "false", "-1", "7.9") + "]"
        << "{0,1,5.3,8.01235} {2,0,-1,7.9}" << "";
    QTest::newRow("numeric status") << "[" + holeJson("3", "1", "0", "8") + "]" << "{3,0,0,8}" << "";
    QTest::newRow("idx not whole") << "[" + holeJson("1.5", "true", "0.000012", "12.5") + "]" << "{0,1,1.2e-05,12.5}" << "";
    QTest::newRow("idx beyond int") << "[" + holeJson("2147483648", "true", "3.0", "\"8\"") + "]" << "{0,1,3,0}" << "";
    QTest::newRow("non-object elements") << "[1,\"x\",null,[]," + hole + "]" << "{0,1,5.3,8.01235}" << "";
    QTest::newRow("duplicate key") << QByteArray("[{\"idx\":1,\"idx\":7,\"position\":0,\"status\":true,\"value\":1}]") << "{7,1,0,1}" << "";
    QTest::newRow("appearance")
        << QByteArray("[{\"idx\":0,\"ngtypes\":[\"\xe5\x88\x92\xe4\xbc\xa4\",1,\"\xe8\x84\x8f\xe6\xb1\xa1\"],\"position\":0,\"status\":false},"
                      "{\"idx\":1,\"ngtypes\":\"x\",\"position\":2.5,\"status\":true},{\"idx\":2,\"position\":1,\"status\":true}]")
        << "" << QStringLiteral("{0,0,0,[划伤|<null>|脏污]} {1,1,2.5,[]}");
}

void TestRecordParser::readsRules()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, holes);
    QFETCH(QString, apes);
    QCOMPARE(describe(RecordJsonParser::parseHoles(input)), holes);
    QCOMPARE(describe(RecordJsonParser::parseApes(input)), apes);
    QCOMPARE(describe(RecordJsonParser::parseHolesQt(input)), holes);
    QCOMPARE(describe(RecordJsonParser::parseApesQt(input)), apes);
}

void TestRecordParser::agreesOnCornerCases_data()
{
    QTest::addColumn<QByteArray>("input");
    for (const char *fragment : kFragments) {
        const QByteArray f(fragment);
        QTest::newRow(("idx " + f).constData()) << "[" + holeJson(f, "true", "1", "2") + "]";
        QTest::newRow(("position " + f).constData()) << "[" + holeJson("1", "true", f, "2") + "]";
        QTest::newRow(("extra " + f).constData()) << "[{\"idx\":0,\"ngtypes\":[" + f + "],\"position\":1,\"status\":true,\"value\":3,\"x\":" + f + "}]";
        QTest::newRow(("element " + f).constData()) << "[" + f + "," + holeJson("1", "false", "1", "2") + "]";
        QTest::newRow(("top " + f).constData()) << f;
    }
    QTest::newRow("bom") << "\xef\xbb\xbf[" + holeJson("1", "true", "1", "2") + "]";
    QTest::newRow("nul inside") << QByteArray("[{\"idx\":1,\"ngtypes\":[\"a\0b\"],\"position\":1,\"status\":true}]", 55);
    QTest::newRow("nul after") << QByteArray("[]\0", 3);
    QTest::newRow("leading space") << " \t\r\n[" + holeJson("1", "true", "1", "2") + "] \n";
    QTest::newRow("form feed") << "\f[" + holeJson("1", "true", "1", "2") + "]";
    QTest::newRow("escaped key") << QByteArray("[{\"\\u0069dx\":4,\"position\":1,\"status\":true,\"value\":2}]");
    QTest::newRow("key with nul") << QByteArray("[{\"idx\\u0000\":4,\"idx\":1,\"position\":1,\"status\":true,\"value\":2}]");
    QTest::newRow("deep 60") << QByteArray(60, '[') + QByteArray(60, ']');
    QTest::newRow("deep 100") << QByteArray(100, '[') + QByteArray(100, ']');
    QTest::newRow("deep 1100") << QByteArray(1100, '[') + QByteArray(1100, ']');
    QTest::newRow("deep inside item") << "[{\"idx\":1,\"ngtypes\":" + QByteArray(200, '[') + QByteArray(200, ']') + ",\"position\":1,\"status\":true}]";
    QTest::newRow("two documents") << QByteArray("[] []");
    QTest::newRow("only space") << QByteArray("   ");
    QTest::newRow("latin1 string") << QByteArray("[{\"idx\":1,\"ngtypes\":[\"\xe9\"],\"position\":1,\"status\":true}]");
}

void TestRecordParser::agreesOnCornerCases()
{
    QFETCH(QByteArray, input);
    QString why;
    QVERIFY2(sameResults(input, &why), qPrintable(why));
}

void TestRecordParser::agreesOnGeneratedCorpus()
{
    QRandomGenerator rng(20240506);
    int disagreements = 0;
    QString first;
    const int count = 40000;
    const quint64 fallbacksBefore = RecordJsonParser::fallbackCount();
    for (int i = 0; i < count; ++i) {
        g_validOnly = i % 4 == 3;
        QByteArray input = randomDocument(rng);
        switch (i % 4) {
        case 1:
            input = mutate(input, rng);
            break;
        case 2: {
            QByteArray bytes(rng.bounded(64), '\0');
            for (char &c : bytes)
                c = char(rng.bounded(256));
            input = rng.bounded(2) ? bytes : "[" + bytes + "]";
            break;
        }
        default:
            break;
        }
        QString why;
        if (!sameResults(input, &why) && disagreements++ == 0)
            first = why;
    }
    QVERIFY2(disagreements == 0, qPrintable(QStringLiteral("%1 of %2 differ, first:\n%3").arg(disagreements).arg(count).arg(first)));
    g_validOnly = false;
    qInfo("%llu of %d parses went to the Qt reader", RecordJsonParser::fallbackCount() - fallbacksBefore, 4 * count);
}

void TestRecordParser::panelTextsTakeTheFastPath()
{
    QList<HoleEntry> holes;
    for (int i = 0; i < 20; ++i)
        holes.append(HoleEntry{i, i != 4, 8.0 + (i - 10) * 0.0037, i == 7 ? -1.0f : float(i * 12.3 + 0.1)});
    const QList<ApeEntry> apes{ApeEntry{0, true, {}, 0.0f}, ApeEntry{1, false, {QStringLiteral("划伤"), QStringLiteral("缺角")}, 41.3f}};
    const QString diameter = ProductRowCodec::diameterJson(holes);
    const QString appearance = ProductRowCodec::appearanceJson(apes);

    const quint64 before = RecordJsonParser::fallbackCount();
    const auto fastHoles = RecordJsonParser::parseHoles(diameter);
    const auto fastApes = RecordJsonParser::parseApes(appearance);
    QCOMPARE(RecordJsonParser::fallbackCount(), before);
    QCOMPARE(describe(fastHoles), describe(RecordJsonParser::parseHolesQt(diameter.toUtf8())));
    QCOMPARE(describe(fastApes), describe(RecordJsonParser::parseApesQt(appearance.toUtf8())));
    QCOMPARE(fastHoles.size(), 20);
    QCOMPARE(fastHoles.at(7)->position, QStringLiteral("-1"));
    QCOMPARE(fastApes.at(1)->ngtypes, QStringList({QStringLiteral("划伤"), QStringLiteral("缺角")}));
    QCOMPARE(fastApes.at(1)->position, QStringLiteral("41.3"));
}

void TestRecordParser::numberTextMatchesQt_data()
{
    QTest::addColumn<double>("value");
    const double values[] = {0.0, -0.0, 1.0, -1.0, 12.5, 3.0, 0.000012, 5.3, double(5.3f), 3.14159265, 1.015625,
                             -1.015625, 1234565.0, 999999.5, 9999995.0, 0.00001, 0.0001, 123456.0, 1234567.0, 1e21,
                             1e-300, 4.9e-324, DBL_MAX, DBL_MIN, 0.1, 100.0, 8.0, 7.95, 8.05, -0.000125};
    for (double v : values)
        QTest::newRow(QByteArray::number(v, 'g', 17).constData()) << v;
}

void TestRecordParser::numberTextMatchesQt()
{
    QFETCH(double, value);
    QCOMPARE(RecordJsonParser::numberText(value), QString::number(value, 'g', 6));
}

void TestRecordParser::numberTextMatchesQtOnRandomDoubles()
{
    QRandomGenerator rng(7);
    int differences = 0;
    QString first;
    auto check = [&](double v) {
        const QString fast = RecordJsonParser::numberText(v);
        const QString ref = QString::number(v, 'g', 6);
        if (fast != ref && differences++ == 0)
            first = QStringLiteral("%1: %2 vs %3").arg(QString::number(v, 'g', 17), fast, ref);
    };
    for (int i = 0; i < 300000; ++i) {
        quint64 bits = rng.generate64();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (std::isfinite(d))
            check(d);
        check(double(float(rng.bounded(4000.0) - 2000.0) * 0.1f));
        check(7.9 + rng.bounded(0.2));
        check(std::ldexp(double(rng.bounded(1 << 20)), -rng.bounded(1, 30))); // short dyadic fractions, ties
        check(double(rng.bounded(20000000)) * (rng.bounded(2) ? 1.0 : 10.0));
        check(std::round(rng.bounded(1e6)) / 1e6 * std::pow(10.0, rng.bounded(-12, 12)));
    }
    QVERIFY2(differences == 0, qPrintable(QStringLiteral("%1 differ, first %2").arg(differences).arg(first)));
}

QTEST_GUILESS_MAIN(TestRecordParser)
#include "tst_recordparser.moc"
