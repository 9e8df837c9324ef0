#include "logcapture.h"

#include "secretwatch.h"

#include <QLoggingCategory>
#include <QMutex>

namespace {

const char* const kCategory = "im.settingmodel";

QMutex lock;
QList<LogCapture::Line> captured;
bool debugOn = true;
QLoggingCategory::CategoryFilter previousFilter = nullptr;
QtMessageHandler previousHandler = nullptr;

void filter(QLoggingCategory* category)
{
    if (previousFilter)
        previousFilter(category);
    if (qstrcmp(category->categoryName(), kCategory) == 0)
        category->setEnabled(QtDebugMsg, debugOn);
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (qstrcmp(context.category, kCategory) != 0) {
        previousHandler(type, context, message);
        return;
    }
    secretwatch::scan(message);
    QMutexLocker locked(&lock);
    captured.append({type, message, QString::fromUtf8(context.file), QString::fromUtf8(context.function)});
}

} // namespace

LogCapture::LogCapture(bool moduleDebug)
{
    {
        QMutexLocker locked(&lock);
        captured.clear();
        debugOn = moduleDebug;
    }
    previousHandler = qInstallMessageHandler(handler);
    previousFilter = QLoggingCategory::installFilter(filter);
}

LogCapture::~LogCapture()
{
    QLoggingCategory::installFilter(previousFilter);
    qInstallMessageHandler(previousHandler);
}

QList<LogCapture::Line> LogCapture::lines() const
{
    QMutexLocker locked(&lock);
    return captured;
}

QStringList LogCapture::messages() const
{
    QStringList texts;
    for (const Line& line : lines())
        texts.append(line.message);
    return texts;
}
