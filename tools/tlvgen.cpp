// tlvgen --db PATH --products N [--days D] [--end "yyyy-MM-dd hh:mm:ss"] [--holes H] [--seed S]

#include "ProductDataGenerator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tlvgen"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Fills a TLV.db product database with generated products."));
    parser.addHelpOption();
    const QCommandLineOption dbOption(QStringLiteral("db"),
        QStringLiteral("Database file (the folder is created)."), QStringLiteral("path"));
    const QCommandLineOption productsOption(
        QStringLiteral("products"), QStringLiteral("Number of products."), QStringLiteral("n"));
    const QCommandLineOption daysOption(QStringLiteral("days"),
        QStringLiteral("Days the products span (default 1)."), QStringLiteral("d"), QStringLiteral("1"));
    const QCommandLineOption endOption(QStringLiteral("end"),
        QStringLiteral("Stamp of the last product, yyyy-MM-dd hh:mm:ss (default now)."),
        QStringLiteral("time"));
    const QCommandLineOption holesOption(QStringLiteral("holes"),
        QStringLiteral("Holes per product (default 20)."), QStringLiteral("h"), QStringLiteral("20"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Random seed (default 1)."),
        QStringLiteral("s"), QStringLiteral("1"));
    parser.addOptions({ dbOption, productsOption, daysOption, endOption, holesOption, seedOption });
    parser.process(app);

    QTextStream err(stderr);
    bool okProducts = false, okDays = false, okHoles = false, okSeed = false;
    const int products = parser.value(productsOption).toInt(&okProducts);
    const int days = parser.value(daysOption).toInt(&okDays);
    const int holes = parser.value(holesOption).toInt(&okHoles);
    const quint32 seed = parser.value(seedOption).toUInt(&okSeed);
    if (!parser.isSet(dbOption) || !okProducts || products < 0 || !okDays || days < 0 || !okHoles || holes < 0
        || !okSeed) {
        err << "tlvgen: --db PATH and --products N are required; counts must be non-negative integers\n";
        return 2;
    }
    QDateTime end = QDateTime::currentDateTime();
    if (parser.isSet(endOption)) {
        end = QDateTime::fromString(parser.value(endOption), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        if (!end.isValid()) {
            err << "tlvgen: --end must read yyyy-MM-dd hh:mm:ss\n";
            return 2;
        }
    }

    QElapsedTimer timer;
    timer.start();
    if (!ProductDataGenerator::generate(parser.value(dbOption), products, days, end, holes, seed))
        return 1;
    QTextStream(stdout) << "tlvgen: " << products << " products in " << parser.value(dbOption) << " ("
                        << timer.elapsed() << " ms)\n";
    return 0;
}
