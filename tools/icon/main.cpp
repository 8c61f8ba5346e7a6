// Renders the window's icon into the freedesktop icon theme layout:
// OUTDIR/<size>x<size>/apps/kt4500-config.png for each size the theme commonly holds.
#include "pictures.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kt4500-icon OUTDIR\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        if (!QDir().mkpath(dir)
            || !kt::app::pictures::windowIconPixmap(size).save(dir + "/kt4500-config.png")) {
            std::fprintf(stderr, "kt4500-icon: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
