#pragma once
// One running Kestrel per data folder: a later start on the same folder asks the running one to
// come to the front and leaves, so two windows never edit the same lists behind each other's back.
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QWidget;

namespace kestrel {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        First,      // no other start on this folder: later starts will ask this one
        HandedOver, // the running one confirmed it comes to the front; this process should leave
        NoAnswer,   // one is running but did not confirm in time
    };

    explicit SingleInstance(const QString& dataDir, QObject* parent = nullptr);
    ~SingleInstance() override;

    Outcome claim(int timeoutMs = 3000);

    // The socket's path: one per user and canonical data folder, so two program folders never hand over.
    static QString serverName(const QString& dataDir);

Q_SIGNALS:
    void raiseRequested();

private:
    void onNewConnection();
    void onRequest(QLocalSocket* socket);

    QString name_;
    QLocalServer* server_ = nullptr;
};

// Shows the window in front and active; a modal dialog open over it is put in front of it.
void bringToFront(QWidget& window);

} // namespace kestrel
