// The single-instance guard with real processes of the program.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "app/instance_guard.h"

namespace {

// True while some process holds the lock on the file.
bool LockHeldElsewhere(const QString& path) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

}  // namespace

class InstanceGuardTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void secondCopyEndsAtOnceSilently();
    void killedCopyLeavesNoStaleLock();
    void guardInOneProcess();
    void lockPlace_data();
    void lockPlace();

private:
    void StartFirst(QProcess& process);
    QProcessEnvironment Environment() const;
    std::unique_ptr<QTemporaryDir> runtime_;
    std::unique_ptr<QTemporaryDir> work_;
};

void InstanceGuardTest::init() {
    runtime_ = std::make_unique<QTemporaryDir>();
    work_ = std::make_unique<QTemporaryDir>();
}

void InstanceGuardTest::cleanup() {
    runtime_.reset();
    work_.reset();
}

QProcessEnvironment InstanceGuardTest::Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime_->path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", work_->path());
    return env;
}

void InstanceGuardTest::StartFirst(QProcess& process) {
    process.setProcessEnvironment(Environment());
    process.setWorkingDirectory(work_->path());
    process.start(KORVANE_PATH, {});
    QVERIFY(process.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(LockHeldElsewhere(runtime_->path() + "/KORVANE.lock"), 20000);
    QCOMPARE(process.state(), QProcess::Running);
}

void InstanceGuardTest::secondCopyEndsAtOnceSilently() {
    QProcess first;
    StartFirst(first);
    QProcess second;
    second.setProcessEnvironment(Environment());
    second.setWorkingDirectory(work_->path());
    second.start(KORVANE_PATH, {});
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(second.readAllStandardOutput().isEmpty());
    // The first copy goes on unchanged.
    QCOMPARE(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished(10000);
}

void InstanceGuardTest::killedCopyLeavesNoStaleLock() {
    {
        QProcess first;
        StartFirst(first);
        first.kill();
        QVERIFY(first.waitForFinished(10000));
    }
    QVERIFY(!LockHeldElsewhere(runtime_->path() + "/KORVANE.lock"));
    QProcess next;
    StartFirst(next);  // takes the guard and runs
    next.kill();
    next.waitForFinished(10000);
}

void InstanceGuardTest::guardInOneProcess() {
    const std::string path = (runtime_->path() + "/KORVANE.lock").toStdString();
    {
        korvane::InstanceGuard first(path);
        QVERIFY(first.Held());
        korvane::InstanceGuard second(path);  // another open file: refused as another process is
        QVERIFY(!second.Held());
    }
    korvane::InstanceGuard again(path);
    QVERIFY(again.Held());
    QVERIFY(!korvane::InstanceGuard(runtime_->path().toStdString() + "/no/such/dir/KORVANE.lock")
                 .Held());
}

void InstanceGuardTest::lockPlace_data() {
    QTest::addColumn<QByteArray>("runtimeDir");
    QTest::addColumn<QByteArray>("tmpDir");
    QTest::addColumn<QString>("expected");
    // In the temporary directory, shared by all users, the file carries the user's id.
    const QString user = QString::number(::getuid());
    QTest::newRow("runtime directory") << QByteArray("/tmp") << QByteArray("/var/tmp")
                                       << "/tmp/KORVANE.lock";
    QTest::newRow("no runtime directory") << QByteArray() << QByteArray("/var/tmp")
                                          << "/var/tmp/KORVANE-" + user + ".lock";
    QTest::newRow("missing runtime directory") << QByteArray("/no/such/dir")
                                               << QByteArray("/var/tmp")
                                               << "/var/tmp/KORVANE-" + user + ".lock";
    QTest::newRow("nothing set") << QByteArray() << QByteArray()
                                 << "/tmp/KORVANE-" + user + ".lock";
}

void InstanceGuardTest::lockPlace() {
    QFETCH(QByteArray, runtimeDir);
    QFETCH(QByteArray, tmpDir);
    QFETCH(QString, expected);
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray oldTmp = qgetenv("TMPDIR");
    auto set = [](const char* name, const QByteArray& value) {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    set("XDG_RUNTIME_DIR", runtimeDir);
    set("TMPDIR", tmpDir);
    const QString path = QString::fromStdString(korvane::InstanceGuard::DefaultLockPath());
    set("XDG_RUNTIME_DIR", oldRuntime);
    set("TMPDIR", oldTmp);
    QCOMPARE(path, expected);
}

QTEST_GUILESS_MAIN(InstanceGuardTest)
#include "instance_guard_test.moc"
