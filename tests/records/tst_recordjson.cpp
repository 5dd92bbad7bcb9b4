// The simdjson reader of the JSON columns against the QJsonDocument reference, the number
// texts against QString::number, and the lifetime of a product's block.

#include "NumberText.h"
#include "RecordBlock.h"
#include "RecordJson.h"
#include "RecordJsonReader.h"
#include "StoredRowWriter.h"
#include "TextPool.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace {

template <typename Item> QString describe(const QList<std::shared_ptr<Item>> &items)
{
    QStringList parts;
    for (const auto &i : items) {
        QString fourth;
        if constexpr (std::is_same_v<Item, tlv::HoleInfo>)
            fourth = i->value;
        else
            for (const QString &t : i->ngtypes)
                fourth += (t.isNull() ? QStringLiteral("<null>") : t) + QLatin1Char('|');
        parts << QStringLiteral("{%1,%2,%3,%4}").arg(i->idx).arg(i->status).arg(i->position, fourth);
    }
    return parts.join(QLatin1Char(' '));
}

template <typename Item> QList<std::shared_ptr<Item>> read(RecordJsonReader &reader, const QByteArray &input)
{
    std::vector<Item> items;
    reader.read(input.constData(), input.size(), items);
    QList<std::shared_ptr<Item>> list;
    for (Item &item : items)
        list.append(std::make_shared<Item>(std::move(item)));
    return list;
}

QByteArray hole(
    const QByteArray &idx, const QByteArray &status, const QByteArray &position, const QByteArray &value)
{
    return "{\"idx\":" + idx + ",\"position\":" + position + ",\"status\":" + status + ",\"value\":" + value
        + "}";
}

// Bits of JSON that are known to separate readers.
const char *const kFragments[] = {
    "0",
    "-0",
    "-0.0",
    "1e-400",
    "1e400",
    "4.9e-324",
    "2.2250738585072014e-308",
    "1.7976931348623159e308",
    "9223372036854775808",
    "-9223372036854775809",
    "18446744073709551616",
    "2147483648",
    "2147483647.0",
    "1.5",
    "1E2",
    "1.",
    ".5",
    "01",
    "-",
    "+1",
    "NaN",
    "true",
    "null",
    "\"\"",
    "\"\\u0000\"",
    "\"\\ud800\"",
    "\"\\udc00\"",
    "\"\\ud83d\\ude00\"",
    "\"\xe5\x88\x92\"",
    "\"\xff\"",
    "\"\xed\xa0\x80\"",
    "\"\xc0\xaf\"",
    "\"a\x01\"",
    "\"\\a\"",
    "[]",
    "{}",
    "[1,]",
    "{\"a\":1,}",
    "1.015625",
    "999999.5",
    "0.0000125",
    "\xef\xbb\xbf",
    "\f",
    "[] []",
};
constexpr int kFragmentCount = int(sizeof kFragments / sizeof *kFragments);

QByteArray value(QRandomGenerator &rng)
{
    switch (rng.bounded(5)) {
    case 0:
        return QByteArray::number(rng.bounded(-5, 40));
    case 1:
        return QByteArray::number(double(float(rng.bounded(200.0) - 20.0)), 'g', 17);
    case 2:
        return QByteArray::number(7.9 + rng.bounded(0.2), 'g', rng.bounded(1, 18));
    case 3:
        return "[\"\xe8\x84\x8f\xe6\xb1\xa1\"," + QByteArray(kFragments[rng.bounded(kFragmentCount)]) + "]";
    default:
        return QByteArray(kFragments[rng.bounded(kFragmentCount)]);
    }
}

// Arrays of item-like objects (keys missing, repeated, extra; any values), some deeply nested,
// optionally mangled byte-wise. In the panel's form, every object has the four keys of the panel's
// holes or appearance in its order, with any values.
QByteArray document(QRandomGenerator &rng, bool mangle, bool panelForm = false)
{
    const bool holesForm = rng.bounded(2);
    QByteArray doc = "[";
    for (int i = rng.bounded(25); i > 0; --i) {
        if (panelForm) {
            // Mostly what the panel writes, so that whole documents keep its form; now and then anything.
            const auto or_any
                = [&rng](const QByteArray &usual) { return rng.bounded(12) ? usual : value(rng); };
            const QByteArray idx = or_any(QByteArray::number(rng.bounded(-2, 40)));
            const QByteArray position = or_any(QByteArray::number(rng.bounded(300.0), 'g', 17));
            const QByteArray status = or_any(rng.bounded(2) ? "true" : "false");
            if (holesForm) {
                doc += hole(
                           idx, status, position, or_any(QByteArray::number(7.9 + rng.bounded(0.2), 'g', 17)))
                    + ",";
                continue;
            }
            // Defect names as written, now and then as another writer could escape them.
            static const char *const kTypes[]
                = { "\"\\u5212\\u4f24\"", "\"a\\\"b\"", "\"dirt\"", "\"\xe5\x88\x92\xe4\xbc\xa4\"" };
            QByteArray types;
            for (int t = rng.bounded(3); t > 0; --t)
                types += (types.isEmpty() ? "" : ",") + or_any(kTypes[std::min(rng.bounded(32), 3)]);
            doc += "{\"idx\":" + idx + ",\"ngtypes\":[" + types + "],\"position\":" + position
                + ",\"status\":" + status + "},";
            continue;
        }
        for (const char *key : { "idx", "status", "position", "value", "ngtypes", "idx", "extra" })
            doc += rng.bounded(8) ? (doc.endsWith('[') || doc.endsWith(',') ? "{\"" : ",\"") + QByteArray(key)
                    + "\":" + value(rng)
                                  : "";
        doc += rng.bounded(10) ? "}," : "},1,";
    }
    doc = doc.left(doc.size() - 1) + "]";
    // Kept shallow: Qt's reader leaks on some of these (tests/lsan.supp), and the sanitizer keeps
    // only so many frames of an allocation's stack; QJsonDocument::fromJson must be among them.
    const int depth = rng.bounded(30) ? 0 : rng.bounded(4, 10);
    doc = QByteArray(depth, '[') + doc + QByteArray(depth, ']');
    for (int e = mangle ? rng.bounded(1, 4) : 0; e > 0 && !doc.isEmpty(); --e) {
        const int at = rng.bounded(doc.size());
        if (e == 1)
            doc.truncate(at);
        else
            doc.replace(at, rng.bounded(3),
                rng.bounded(2) ? QByteArray(1, char(rng.bounded(256)))
                               : QByteArray(kFragments[rng.bounded(kFragmentCount)]));
    }
    return doc;
}

} // namespace

class TestRecordJson : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void readsRules_data();
    void readsRules();
    void agreesWithQtReader_data();
    void agreesWithQtReader();
    void agreesWithQtReaderInPanelForm_data();
    void agreesWithQtReaderInPanelForm();
    void numberTextMatchesQt_data();
    void numberTextMatchesQt();
    void panelTextsMakeOneBlock();

private:
    void compareReaders(int kind, int count);
};

void TestRecordJson::readsRules_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("holes");
    QTest::addColumn<QString>("apes");
    const QByteArray h = hole("0", "true", "5.300000190734863", "8.0123456");
    QTest::newRow("written by the panel") << "[" + h + "]"
                                          << "{0,1,5.3,8.01235}"
                                          << "";
    QTest::newRow("object at top") << h << ""
                                   << "";
    QTest::newRow("missing value") << "[1," + h + ",{\"idx\":1,\"position\":1,\"status\":true},"
            + hole("2", "false", "-1", "7.9") + "]"
                                   << "{0,1,5.3,8.01235} {2,0,-1,7.9}"
                                   << "";
    QTest::newRow("numeric status, idx not whole") << "[" + hole("1.5", "1", "0.000012", "12.5") + "]"
                                                   << "{0,0,1.2e-05,12.5}"
                                                   << "";
    QTest::newRow("idx beyond int, text value") << "[" + hole("2147483648", "true", "3.0", "\"8\"") + "]"
                                                << "{0,1,3,0}"
                                                << "";
    QTest::newRow("appearance") << QByteArray(
        "[{\"idx\":0,\"ngtypes\":[\"\xe5\x88\x92\xe4\xbc\xa4\",1],\"position\":0,\"status\":false},"
        "{\"idx\":1,\"ngtypes\":\"x\",\"position\":2.5,\"status\":true},{\"idx\":2,\"position\":1,\"status\":"
        "true}]") << "" << QStringLiteral("{0,0,0,划伤|<null>|} {1,1,2.5,}");
}

void TestRecordJson::readsRules()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, holes);
    QFETCH(QString, apes);
    QCOMPARE(describe(RecordJson::readHoles(input)), holes);
    QCOMPARE(describe(RecordJson::readApes(input)), apes);
    QCOMPARE(describe(RecordJson::readHolesWithQt(input)), holes);
    QCOMPARE(describe(RecordJson::readApesWithQt(input)), apes);
}

void TestRecordJson::agreesWithQtReader_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("generated documents") << 1;
    QTest::newRow("mangled documents") << 2;
}

// Inputs of one kind from a fixed seed; both readers must give the same items for each. One
// fast reader reads them all, as the worker's does, so its pools share texts across inputs.
void TestRecordJson::agreesWithQtReader()
{
    QFETCH(int, kind);
    compareReaders(kind, 20000);
}

void TestRecordJson::agreesWithQtReaderInPanelForm_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("the panel's form, any values") << 3;
    QTest::newRow("the panel's form, mangled") << 4;
}

// Apart from the above, for the time limit of a test function under the sanitizer: the panel's
// form makes long documents, each a long parse for Qt's reader, so fewer of them are read.
void TestRecordJson::agreesWithQtReaderInPanelForm()
{
    QFETCH(int, kind);
    compareReaders(kind, 3000);
}

void TestRecordJson::compareReaders(int kind, int count)
{
    QRandomGenerator rng(20240506u + quint32(kind));
    RecordJsonReader reader;
    for (int i = 0; i < count; ++i) {
        const QByteArray input = document(rng, kind == 2 || kind == 4, kind >= 3);
        const QString holes = describe(read<tlv::HoleInfo>(reader, input));
        const QString apes = describe(read<tlv::ApeInfo>(reader, input));
        if (holes != describe(RecordJson::readHolesWithQt(input))
            || apes != describe(RecordJson::readApesWithQt(input)))
            QFAIL(qPrintable(QStringLiteral("readers differ on %1 (fast: %2 / %3)")
                                 .arg(QString::fromLatin1(input.toPercentEncoding(" []{}:,\"'.-+")).left(400),
                                     holes, apes)));
    }
}

void TestRecordJson::numberTextMatchesQt_data()
{
    QTest::addColumn<int>("family");
    int f = 0;
    for (const char *name : { "random bits", "widened floats", "near a nominal diameter",
             "short dyadic fractions (ties)", "integers", "six-digit decimals", "a few ulps from a tie" })
        QTest::newRow(name) << f++;
}

// Doubles of one family from a fixed seed: the text must be QString::number's, pooled or not,
// and read from JSON by one reader, whose number pool grows as the family's texts come in.
void TestRecordJson::numberTextMatchesQt()
{
    QFETCH(int, family);
    const double chosen[] = { 0.0, -0.0, 1.0, 12.5, 0.000012, double(5.3f), 1.015625, -1.015625, 1234565.0,
        999999.5, 9999995.0, 1e21, 4.9e-324, DBL_MAX, DBL_MIN, -0.000125, INFINITY, NAN };
    QRandomGenerator rng(7u + quint32(family));
    TextPool pool;
    RecordJsonReader reader;
    QByteArray holes;
    QStringList texts;
    for (int i = 0; i < 200000; ++i) {
        double v = 0;
        const quint64 bits = rng.generate64();
        switch (i < int(sizeof chosen / sizeof *chosen) ? -1 : family) {
        case -1:
            v = chosen[i];
            break;
        case 0:
            std::memcpy(&v, &bits, sizeof v);
            break;
        case 1:
            v = double(float(rng.bounded(4000.0) - 2000.0) * 0.1f);
            break;
        case 2:
            v = 7.9 + rng.bounded(0.2);
            break;
        case 3:
            v = std::ldexp(double(rng.bounded(1 << 20)), -rng.bounded(1, 30));
            break;
        case 4:
            v = double(rng.bounded(20000000)) * (rng.bounded(2) ? 1.0 : -10.0);
            break;
        case 5:
            v = std::round(rng.bounded(1e6)) / 1e6 * std::pow(10.0, rng.bounded(-12, 12));
            break;
        default:
            // Where the literal's digits alone cannot tell which way six digits round.
            v = (double(rng.bounded(100000, 1000000)) + 0.5) * std::pow(10.0, rng.bounded(-9, 1));
            for (int step = rng.bounded(-3, 4); step != 0; step += step > 0 ? -1 : 1)
                v = std::nextafter(v, step > 0 ? INFINITY : -INFINITY);
            break;
        }
        const QString expected = QString::number(v, 'g', 6);
        if (NumberText::of(v) != expected || NumberText::of(v, &pool) != expected)
            QFAIL(qPrintable(QStringLiteral("%1 gives %2, Qt %3")
                                 .arg(QString::number(v, 'g', 17), NumberText::of(v), expected)));
        // What a JSON text carries exactly; enough of the family to make the pool grow, few
        // enough for the sanitizer build.
        if (std::isnormal(v) && i < 20000) {
            // As Qt writes it (shortest) or with every digit.
            const QByteArray number
                = QByteArray::number(v, 'g', rng.bounded(2) ? QLocale::FloatingPointShortest : 17);
            holes += (holes.isEmpty() ? "[" : ",") + hole("0", "true", number, number);
            texts << expected;
        }
        if (texts.size() == 64) {
            holes += ']';
            std::vector<tlv::HoleInfo> items;
            reader.read(holes.constData(), holes.size(), items);
            QCOMPARE(int(items.size()), texts.size());
            for (size_t k = 0; k < items.size(); ++k) {
                QCOMPARE(items[k].position, texts[int(k)]);
                QCOMPARE(items[k].value, texts[int(k)]);
            }
            holes.clear();
            texts.clear();
        }
    }
}

// What the panel writes takes the fast path. The product's lists hold the block of its items;
// released, the block lives on only for items held elsewhere.
void TestRecordJson::panelTextsMakeOneBlock()
{
    QList<HoleEntry> holes;
    for (int i = 0; i < 20; ++i)
        holes.append(
            HoleEntry { i, i != 4, 8.0 + (i - 10) * 0.0037, i == 7 ? -1.0f : float(i * 12.3 + 0.1) });
    const QList<ApeEntry> apes { ApeEntry { 0, true, {}, 0.0f },
        ApeEntry { 1, false, { QStringLiteral("划伤") }, 41.3f } };
    const QByteArray diameter = StoredRowWriter::diameterJson(holes).toUtf8();
    const QByteArray appearance = StoredRowWriter::appearanceJson(apes).toUtf8();
    RecordJsonReader reader;
    std::vector<tlv::HoleInfo> holeItems;
    std::vector<tlv::ApeInfo> apeItems;
    reader.read(diameter.constData(), diameter.size(), holeItems);
    reader.read(appearance.constData(), appearance.size(), apeItems);
    QCOMPARE(reader.fallbacks(), quint64(0));
    auto product = RecordBlock::make(holeItems, apeItems);
    QCOMPARE(describe(product->vtHoles), describe(RecordJson::readHolesWithQt(diameter)));
    auto held = product->vtHoles.value(19);
    const std::weak_ptr<tlv::ApeInfo> ape = product->vtApes.value(1);
    product.reset();
    QCOMPARE(held->position, QStringLiteral("233.8"));
    QVERIFY(!ape.expired());
    held.reset();
    QVERIFY(ape.expired());
}

QTEST_GUILESS_MAIN(TestRecordJson)
#include "tst_recordjson.moc"
