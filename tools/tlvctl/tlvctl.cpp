// tlvctl: the station's products for integrators, without the panel: export a time range as the
// report does (xlsx) or as CSV, feed the plant's PostgreSQL, copy the database while it is used.
#include "CtlCommand.h"
#include "DatabaseBackup.h"
#include "ProductExport.h"
#include "StationSync.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

void stop(int)
{
    StationSync::requestStop();
}

// Qt's own messages (the export's warnings, the driver's) go to stderr as plain lines.
void toStderr(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        return;
    std::fprintf(stderr, "tlvctl: %s\n", qUtf8Printable(message));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(toStderr);
    const CtlCommand command = CtlCommand::parse(QCoreApplication::arguments());
    if (command.helpWanted) {
        std::fputs(qUtf8Printable(command.help), stdout);
        return 0;
    }
    if (!command.error.isEmpty()) {
        std::fprintf(stderr, "tlvctl: %s\n\n%s", qUtf8Printable(command.error), qUtf8Printable(command.help));
        return 2;
    }

    QString error;
    switch (command.kind) {
    case CtlCommand::Export: {
        const ProductExport::Range range { command.db, command.from, command.to, command.search };
        const bool done = command.xlsx.isEmpty() ? ProductExport::toCsv(range, command.csv, &error)
                                                 : ProductExport::toXlsx(range, command.xlsx, &error);
        if (done)
            return 0;
        break;
    }
    case CtlCommand::Sync: {
        std::signal(SIGINT, stop);
        std::signal(SIGTERM, stop);
        StationSync sync({ command.db, command.station, command.conninfo, command.followSeconds });
        return sync.run();
    }
    case CtlCommand::Backup:
        if (DatabaseBackup::copy(command.db, command.target, &error)) {
            std::fprintf(stderr, "tlvctl backup: %s\n", qUtf8Printable(command.target));
            return 0;
        }
        break;
    case CtlCommand::None:
        break;
    }
    std::fprintf(stderr, "tlvctl: %s\n", qUtf8Printable(error));
    return 1;
}
