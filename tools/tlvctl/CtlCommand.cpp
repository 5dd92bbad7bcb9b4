#include "CtlCommand.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFileInfo>

namespace {

const char *const kUsage
    = "Usage: tlvctl <command> [options]\n"
      "\n"
      "Commands:\n"
      "  export   the products of a time range as xlsx (as the report exports them) or CSV\n"
      "  sync     send the products not sent yet to the plant's PostgreSQL table tlv_products\n"
      "  backup   a consistent copy of a database the panel may be writing\n"
      "\n"
      "tlvctl <command> --help describes a command. Exit status: 0 done, 1 failed, "
      "2 bad arguments.\n";

QString dbError(const QString &db)
{
    if (db.isEmpty())
        return QStringLiteral("--db FILE is required");
    if (!QFileInfo(db).isFile())
        return QStringLiteral("--db %1: no such file").arg(db);
    return {};
}

QString timeError(const QString &option, const QString &value)
{
    if (value.isEmpty())
        return QStringLiteral("--%1 \"%2\" is required").arg(option, QLatin1String(CtlCommand::timeFormat));
    if (!QDateTime::fromString(value, QLatin1String(CtlCommand::timeFormat)).isValid())
        return QStringLiteral("--%1 %2: not a time of the form \"%3\"")
            .arg(option, value, QLatin1String(CtlCommand::timeFormat));
    return {};
}

} // namespace

CtlCommand CtlCommand::parse(const QStringList &arguments)
{
    CtlCommand command;
    const QString name = arguments.value(1);
    if (name.isEmpty() || name == QLatin1String("--help") || name == QLatin1String("-h")
        || name == QLatin1String("help")) {
        command.helpWanted = !name.isEmpty();
        command.help = QLatin1String(kUsage);
        if (name.isEmpty())
            command.error = QStringLiteral("no command given");
        return command;
    }

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(
        { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("This help."));
    const QCommandLineOption db(
        QStringLiteral("db"), QStringLiteral("The station's database (TLV.db)."), QStringLiteral("FILE"));
    parser.addOption(help);
    parser.addOption(db);

    const QCommandLineOption from(QStringLiteral("from"),
        QStringLiteral("First time of the range, inclusive."), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("Last time of the range, inclusive."),
        QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QCommandLineOption search(QStringLiteral("search"),
        QStringLiteral(
            "Only products whose barcode holds TEXT (a material number, an order number or any part)."),
        QStringLiteral("TEXT"));
    const QCommandLineOption xlsx(
        QStringLiteral("xlsx"), QStringLiteral("Write the report's workbook to OUT."), QStringLiteral("OUT"));
    const QCommandLineOption csv(QStringLiteral("csv"),
        QStringLiteral("Write the report sheet's columns as CSV (RFC 4180, UTF-8 with BOM) to OUT."),
        QStringLiteral("OUT"));
    const QCommandLineOption station(QStringLiteral("station"),
        QStringLiteral("The name the station's products carry in the central table."),
        QStringLiteral("NAME"));
    const QCommandLineOption pg(QStringLiteral("pg"),
        QStringLiteral("libpq connection string or URI of the plant's server."), QStringLiteral("CONNINFO"));
    const QCommandLineOption follow(QStringLiteral("follow"),
        QStringLiteral("Keep sending new products, looking every SECONDS; waits out a server that is down."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption target(
        QStringLiteral("to"), QStringLiteral("Where the copy goes."), QStringLiteral("COPY"));

    QString summary;
    if (name == QLatin1String("export")) {
        command.kind = Export;
        parser.addOptions({ from, to, search, xlsx, csv });
        summary
            = QStringLiteral("tlvctl export: the products of a time range, found as the report finds them, "
                             "as the report's xlsx workbook or as CSV. Memory stays flat however many.");
    } else if (name == QLatin1String("sync")) {
        command.kind = Sync;
        parser.addOptions({ station, pg, follow });
        summary = QStringLiteral(
            "tlvctl sync: sends the products not sent yet to the table tlv_products (created when missing) "
            "and keeps its mark in FILE.sync once the server has confirmed; retention keeps what is not "
            "sent.");
    } else if (name == QLatin1String("backup")) {
        command.kind = Backup;
        parser.addOption(target);
        summary
            = QStringLiteral("tlvctl backup: a consistent copy of the database while the panel writes it.");
    } else {
        command.error = QStringLiteral("unknown command \"%1\"").arg(name);
        command.help = QLatin1String(kUsage);
        return command;
    }
    parser.setApplicationDescription(summary);
    QStringList rest = arguments;
    rest.removeAt(1);
    // Qt's first line names the program by its path.
    command.help = parser.helpText();
    command.help.replace(
        0, command.help.indexOf(QLatin1String(" [options]")), QStringLiteral("Usage: tlvctl ") + name);
    if (!parser.parse(rest)) {
        command.error = parser.errorText();
        return command;
    }
    if (parser.isSet(help)) {
        command.helpWanted = true;
        return command;
    }
    if (!parser.positionalArguments().isEmpty()) {
        command.error
            = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return command;
    }
    command.db = parser.value(db);
    QStringList errors { dbError(command.db) };
    switch (command.kind) {
    case Export:
        command.from = parser.value(from);
        command.to = parser.value(to);
        command.search = parser.value(search);
        command.xlsx = parser.value(xlsx);
        command.csv = parser.value(csv);
        errors << timeError(QStringLiteral("from"), command.from)
               << timeError(QStringLiteral("to"), command.to);
        if (command.xlsx.isEmpty() == command.csv.isEmpty())
            errors << QStringLiteral("give one of --xlsx OUT and --csv OUT");
        break;
    case Sync:
        command.station = parser.value(station).trimmed();
        command.conninfo = parser.value(pg);
        if (command.station.isEmpty() || command.station.contains(QLatin1Char('\n')))
            errors << QStringLiteral("--station NAME is required (one line)");
        if (command.conninfo.isEmpty())
            errors << QStringLiteral("--pg CONNINFO is required");
        if (parser.isSet(follow)) {
            bool ok = false;
            command.followSeconds = parser.value(follow).toDouble(&ok);
            if (!ok || command.followSeconds < 0 || command.followSeconds > 86400)
                errors << QStringLiteral("--follow %1: not a number of seconds from 0 to 86400")
                              .arg(parser.value(follow));
        }
        break;
    case Backup:
        command.target = parser.value(target);
        if (command.target.isEmpty())
            errors << QStringLiteral("--to COPY is required");
        else if (QFileInfo(command.target).absoluteFilePath() == QFileInfo(command.db).absoluteFilePath())
            errors << QStringLiteral("--to must name another file than --db");
        break;
    case None:
        break;
    }
    errors.removeAll(QString());
    command.error = errors.join(QStringLiteral("; "));
    return command;
}
