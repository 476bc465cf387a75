#pragma once
// A desktop for programs that run without a user (benchmarks, helper processes): whatever would
// be shown goes to standard error, questions are answered No and dialogs are cancelled.
#include "platform/Platform.h"

namespace kestrel {

class HeadlessPlatform final : public Platform {
public:
    void msgBox(const QString& text, const QString& caption) override;
    bool askYesNo(const QString& text, const QString& caption) override;
    QString inputBox(const QString&, const QString&, const QString&, int) override { return {}; }
    QString openFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
    void openDocument(const QString&) override {}
    bool startProgram(const QString&, const QStringList&) override { return false; }
    QString getSetting(const QString&, const QString&, const QString&) override { return {}; }
    void saveSetting(const QString&, const QString&, const QString&, const QString&) override {}
    void doEvents() override;
    QDate today() override { return QDate::currentDate(); }
    QDateTime now() override { return QDateTime::currentDateTime(); }
};

} // namespace kestrel
