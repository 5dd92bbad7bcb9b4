// The simdjson reader of the JSON columns against the QJsonDocument reference, the number
// texts against QString::number, and the lifetime of a product's shared block.

#include "NumberText.h"
#include "ProductBlock.h"
#include "ProductRowCodec.h"
#include "RecordJsonParser.h"
#include "TextPool.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>

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

QByteArray holeJson(const QByteArray &idx, const QByteArray &status, const QByteArray &position, const QByteArray &value)
{
    return "{\"idx\":" + idx + ",\"position\":" + position + ",\"status\":" + status + ",\"value\":" + value + "}";
}

// Bits of JSON that are known to separate readers.
const char *const kFragments[] = {
    "0", "-0", "-0.0", "0.0", "1e-400", "1e400", "4.9e-324", "2.2250738585072014e-308", "1.7976931348623159e308",
    "9223372036854775808", "-9223372036854775809", "18446744073709551616", "2147483648", "-2147483649",
    "2147483647.0", "1.5", "1E2", "1.", ".5", "01", "-", "+1", "0x10", "NaN", "true", "null", "\"\"", "\"\\u0000\"",
    "\"\\ud800\"", "\"\\udc00\"", "\"\\ud83d\\ude00\"", "\"\xe5\x88\x92\"", "\"\xff\"", "\"\xed\xa0\x80\"", "\"\xc0\xaf\"",
    "\"a\x01\"", "\"\\a\"", "[]", "{}", "[1,]", "{\"a\":1,}", "1.015625", "999999.5", "0.0000125", "\xef\xbb\xbf",
    "\f", "\0", "[[[[]]]]", "[] []",
};
constexpr int kFragmentCount = int(sizeof kFragments / sizeof *kFragments);

QByteArray fragment(QRandomGenerator &rng)
{
    const char *f = kFragments[rng.bounded(kFragmentCount)];
    return *f ? QByteArray(f) : QByteArray(1, '\0');
}

QByteArray number(QRandomGenerator &rng)
{
    switch (rng.bounded(4)) {
    case 0: return QByteArray::number(rng.bounded(-5, 40));
    case 1: return QByteArray::number(double(float(rng.bounded(200.0) - 20.0)), 'g', 17);
    case 2: return QByteArray::number(7.9 + rng.bounded(0.2), 'g', rng.bounded(1, 18));
    default: return fragment(rng);
    }
}

// An array of item-like objects: keys missing, repeated, extra; values of any kind.
QByteArray document(QRandomGenerator &rng)
{
    const char *const keys[] = {"idx", "status", "position", "value", "ngtypes", "idx", "extra"};
    QByteArray doc = "[";
    for (int i = rng.bounded(25); i > 0; --i) {
        doc += "{";
        for (const char *key : keys) {
            if (rng.bounded(8) == 0)
                continue;
            const QByteArray array = "[\"\xe8\x84\x8f\xe6\xb1\xa1\"," + fragment(rng) + "]";
            doc += "\"" + QByteArray(key) + "\":" + (rng.bounded(3) ? number(rng) : rng.bounded(2) ? array : "true") + ",";
        }
        doc.chop(doc.endsWith(',') ? 1 : 0);
        doc += rng.bounded(10) ? "}," : "},1,";
    }
    doc.chop(doc.size() > 1 ? 1 : 0);
    return doc + "]";
}

QByteArray mutated(QRandomGenerator &rng)
{
    QByteArray doc = document(rng);
    for (int e = rng.bounded(1, 4); e > 0 && !doc.isEmpty(); --e) {
        const int at = rng.bounded(doc.size());
        switch (rng.bounded(4)) {
        case 0: doc[at] = char(rng.bounded(256)); break;
        case 1: doc.remove(at, rng.bounded(1, 8)); break;
        case 2: doc.insert(at, fragment(rng)); break;
        default: doc.truncate(at); break;
        }
    }
    return doc;
}

} // namespace

class TestRecordParser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void readsRules_data();
    void readsRules();
    void agreesWithQtReader_data();
    void agreesWithQtReader();
    void panelTextsTakeTheFastPath();
    void numberTextMatchesQt_data();
    void numberTextMatchesQt();
    void heldHoleOutlivesItsProduct();
};

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
    QTest::newRow("missing value") << "[" + hole + ",{\"idx\":1,\"position\":1,\"status\":true}," + holeJson("2", "false", "-1", "7.9") + "]"
                                   << "{0,1,5.3,8.01235} {2,0,-1,7.9}" << "";
    QTest::newRow("numeric status") << "[" + holeJson("3", "1", "0", "8") + "]" << "{3,0,0,8}" << "";
    QTest::newRow("idx not whole") << "[" + holeJson("1.5", "true", "0.000012", "12.5") + "]" << "{0,1,1.2e-05,12.5}" << "";
    QTest::newRow("idx beyond int") << "[" + holeJson("2147483648", "true", "3.0", "\"8\"") + "]" << "{0,1,3,0}" << "";
    QTest::newRow("duplicate key") << QByteArray("[1,{\"idx\":1,\"idx\":7,\"position\":0,\"status\":true,\"value\":1}]") << "{7,1,0,1}" << "";
    QTest::newRow("appearance")
        << QByteArray("[{\"idx\":0,\"ngtypes\":[\"\xe5\x88\x92\xe4\xbc\xa4\",1],\"position\":0,\"status\":false},"
                      "{\"idx\":1,\"ngtypes\":\"x\",\"position\":2.5,\"status\":true},{\"idx\":2,\"position\":1,\"status\":true}]")
        << "" << QStringLiteral("{0,0,0,[划伤|<null>]} {1,1,2.5,[]}");
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

// Inputs of one kind from a fixed seed; both readers must give the same items for each.
void TestRecordParser::agreesWithQtReader_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("fragments in every place") << 0;
    QTest::newRow("generated documents") << 1;
    QTest::newRow("mutated documents") << 2;
    QTest::newRow("random bytes") << 3;
}

void TestRecordParser::agreesWithQtReader()
{
    QFETCH(int, kind);
    QRandomGenerator rng(20240506u + quint32(kind));
    QList<QByteArray> inputs;
    for (int i = 0; i < (kind == 0 ? kFragmentCount : 10000); ++i) {
        if (kind == 0) {
            const QByteArray f = *kFragments[i] ? QByteArray(kFragments[i]) : QByteArray(1, '\0');
            inputs << "[" + holeJson(f, "true", "1", "2") + "]" << "[" + holeJson("1", "true", f, "2") + "]" << f
                   << "[" + f + "," + holeJson("1", "false", "1", "2") + "]" << QByteArray(i * 23, '[') + QByteArray(i * 23, ']')
                   << "[{\"idx\":0,\"ngtypes\":[" + f + "],\"position\":1,\"status\":true,\"x\":" + f + "}]";
        } else if (kind == 3) {
            QByteArray bytes(rng.bounded(64), '\0');
            for (char &c : bytes)
                c = char(rng.bounded(256));
            inputs << (rng.bounded(2) ? bytes : "[" + bytes + "]");
        } else {
            inputs << (kind == 1 ? document(rng) : mutated(rng));
        }
    }
    for (const QByteArray &input : inputs) {
        const QString holes = describe(RecordJsonParser::parseHoles(input));
        const QString apes = describe(RecordJsonParser::parseApes(input));
        if (holes != describe(RecordJsonParser::parseHolesQt(input)) || apes != describe(RecordJsonParser::parseApesQt(input)))
            QFAIL(qPrintable(QStringLiteral("readers differ on %1 (fast: %2 / %3)")
                                 .arg(QString::fromLatin1(input.toPercentEncoding(" []{}:,\"'.-+")).left(400), holes, apes)));
    }
}

void TestRecordParser::panelTextsTakeTheFastPath()
{
    QList<HoleEntry> holes;
    for (int i = 0; i < 20; ++i)
        holes.append(HoleEntry{i, i != 4, 8.0 + (i - 10) * 0.0037, i == 7 ? -1.0f : float(i * 12.3 + 0.1)});
    const QList<ApeEntry> apes{ApeEntry{0, true, {}, 0.0f}, ApeEntry{1, false, {QStringLiteral("划伤"), QStringLiteral("缺角")}, 41.3f}};
    const QByteArray diameter = ProductRowCodec::diameterJson(holes).toUtf8();
    const QByteArray appearance = ProductRowCodec::appearanceJson(apes).toUtf8();

    RecordJsonParser parser;
    std::vector<tlv::HoleInfo> holeItems;
    std::vector<tlv::ApeInfo> apeItems;
    parser.read(diameter.constData(), diameter.size(), holeItems);
    parser.read(appearance.constData(), appearance.size(), apeItems);
    QCOMPARE(parser.fallbacks(), quint64(0));
    const auto product = ProductBlock::make(holeItems, apeItems);
    QCOMPARE(describe(product->vtHoles), describe(RecordJsonParser::parseHolesQt(diameter)));
    QCOMPARE(describe(product->vtApes), describe(RecordJsonParser::parseApesQt(appearance)));
    QCOMPARE(product->vtHoles.at(7)->position, QStringLiteral("-1"));
    QCOMPARE(product->vtApes.at(1)->position, QStringLiteral("41.3"));
}

// Families of doubles from a fixed seed: the text must be QString::number's, pooled or not.
void TestRecordParser::numberTextMatchesQt_data()
{
    QTest::addColumn<int>("family");
    const char *const names[] = {"chosen values", "random bits", "widened floats", "near a nominal diameter",
                                 "short dyadic fractions (ties)", "integers", "six-digit decimals"};
    for (int f = 0; f < 7; ++f)
        QTest::newRow(names[f]) << f;
}

void TestRecordParser::numberTextMatchesQt()
{
    QFETCH(int, family);
    const double chosen[] = {0.0, -0.0, 1.0, -1.0, 12.5, 3.0, 0.000012, 5.3, double(5.3f), 1.015625, -1.015625,
                             1234565.0, 999999.5, 9999995.0, 0.00001, 123456.0, 1234567.0, 1e21, 1e-300, 4.9e-324,
                             DBL_MAX, DBL_MIN, 0.1, 7.95, -0.000125, INFINITY, -INFINITY, NAN};
    QRandomGenerator rng(7u + quint32(family));
    const std::function<double()> next[] = {
        [&] { return chosen[rng.bounded(int(sizeof chosen / sizeof *chosen))]; },
        [&] {
            const quint64 bits = rng.generate64();
            double d;
            std::memcpy(&d, &bits, sizeof d);
            return d;
        },
        [&] { return double(float(rng.bounded(4000.0) - 2000.0) * 0.1f); },
        [&] { return 7.9 + rng.bounded(0.2); },
        [&] { return std::ldexp(double(rng.bounded(1 << 20)), -rng.bounded(1, 30)); },
        [&] { return double(rng.bounded(20000000)) * (rng.bounded(2) ? 1.0 : -10.0); },
        [&] { return std::round(rng.bounded(1e6)) / 1e6 * std::pow(10.0, rng.bounded(-12, 12)); },
    };
    TextPool pool;
    for (int i = 0; i < 200000; ++i) {
        const double v = next[family]();
        const QString expected = QString::number(v, 'g', 6);
        if (NumberText::of(v) != expected || NumberText::of(v, &pool) != expected)
            QFAIL(qPrintable(QStringLiteral("%1 gives %2, Qt %3").arg(QString::number(v, 'g', 17), NumberText::of(v), expected)));
    }
}

// The product's lists hold its block; released, the block lives on only for items held elsewhere.
void TestRecordParser::heldHoleOutlivesItsProduct()
{
    std::vector<tlv::HoleInfo> holes{tlv::HoleInfo{1, true, QStringLiteral("2.5"), QStringLiteral("8.01")}};
    std::vector<tlv::ApeInfo> apes{tlv::ApeInfo{0, false, QStringLiteral("0"), {QStringLiteral("划伤")}}};
    std::shared_ptr<tlv::ProductInfo> product = ProductBlock::make(holes, apes);
    QVERIFY(holes.empty() && apes.empty());
    std::shared_ptr<tlv::HoleInfo> hole = product->vtHoles.value(0);
    const std::weak_ptr<tlv::ApeInfo> ape = product->vtApes.value(0);
    const std::weak_ptr<tlv::ProductInfo> weakProduct = product;
    product.reset();
    QVERIFY(weakProduct.expired());
    QCOMPARE(hole->value, QStringLiteral("8.01"));
    QVERIFY(!ape.expired());
    hole.reset();
    QVERIFY(ape.expired());
}

QTEST_GUILESS_MAIN(TestRecordParser)
#include "tst_recordparser.moc"
