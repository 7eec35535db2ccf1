// The Wayland hot key through the desktop portal's GlobalShortcuts interface, against a
// portal of the test's own on a private session bus.
#include "platform/x11/PortalGlobalHotKey.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

struct FakeShortcut {
    QString id;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(FakeShortcut)

QDBusArgument &operator<<(QDBusArgument &arg, const FakeShortcut &s)
{
    arg.beginStructure();
    arg << s.id << s.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument &operator>>(const QDBusArgument &arg, FakeShortcut &s)
{
    arg.beginStructure();
    arg >> s.id >> s.properties;
    arg.endStructure();
    return arg;
}

// The portal's side: answers each call with a request path and then that request's Response.
class FakePortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
public:
    explicit FakePortal(QDBusConnection bus) : m_bus(std::move(bus)) {}
    int sessions = 0;
    int binds = 0;
    QList<FakeShortcut> bound;
    uint bindAnswer = 0;

    void activate(const QString &id,
                  const QString &session = QStringLiteral("/org/freedesktop/portal/desktop/session/x/kelso_session"))
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                                         QStringLiteral("org.freedesktop.portal.GlobalShortcuts"),
                                                         QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(1) << QVariantMap();
        m_bus.send(signal);
    }

public Q_SLOTS:
    QDBusObjectPath CreateSession(const QVariantMap &options, const QDBusMessage &message)
    {
        ++sessions;
        const QString request = requestPath(message, options);
        QTimer::singleShot(0, this, [this, request] {
            respond(request, 0,
                    {{QStringLiteral("session_handle"),
                      QStringLiteral("/org/freedesktop/portal/desktop/session/x/kelso_session")}});
        });
        return QDBusObjectPath(request);
    }
    QDBusObjectPath BindShortcuts(const QDBusObjectPath &, const QList<FakeShortcut> &shortcuts, const QString &,
                                  const QVariantMap &options, const QDBusMessage &message)
    {
        ++binds;
        bound = shortcuts;
        const QString request = requestPath(message, options);
        QTimer::singleShot(0, this, [this, request] { respond(request, bindAnswer, {}); });
        return QDBusObjectPath(request);
    }

private:
    static QString requestPath(const QDBusMessage &message, const QVariantMap &options)
    {
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
            .arg(sender, options.value(QStringLiteral("handle_token")).toString());
    }
    void respond(const QString &request, uint code, const QVariantMap &results)
    {
        QDBusMessage signal = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
                                                         QStringLiteral("Response"));
        signal << code << results;
        m_bus.send(signal);
    }
    QDBusConnection m_bus;
};

namespace {

// A private session bus for the test, ended with it.
class PortalTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qDBusRegisterMetaType<FakeShortcut>();
        qDBusRegisterMetaType<QList<FakeShortcut>>();
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        ASSERT_TRUE(daemon.waitForStarted(5000)) << "dbus-daemon is missing";
        ASSERT_TRUE(QTest::qWaitFor([&] { return daemon.canReadLine(); }, 5000));
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        ++round;
        client = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("kelso-client-%1").arg(round)));
        ASSERT_TRUE(client->isConnected());
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("kelso-client-%1").arg(round));
        QDBusConnection::disconnectFromBus(QStringLiteral("portal-%1").arg(round));
        daemon.kill();
        daemon.waitForFinished(5000);
    }
    FakePortal *startPortal()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("portal-%1").arg(round));
        auto *portal = new FakePortal(bus);
        portal->setParent(&owner);
        EXPECT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
        EXPECT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), portal,
                                       QDBusConnection::ExportAllSlots));
        return portal;
    }

    QProcess daemon;
    QString address;
    std::unique_ptr<QDBusConnection> client;
    QObject owner;
    static inline int round = 0;
};

constexpr quint64 kCommand = HotKeyFlags::kCommand;

TEST_F(PortalTest, BindsOnceProposingTheStoredCombinationAndActsOnActivated)
{
    FakePortal *portal = startPortal();
    PortalGlobalHotKey hotKey(*client);
    QSignalSpy activated(&hotKey, &GlobalHotKeyBackend::activated);
    QSignalSpy lost(&hotKey, &GlobalHotKeyBackend::registrationLost);

    EXPECT_EQ(hotKey.registerKey(61, kCommand), GlobalHotKeyBackend::Result::Registered);
    ASSERT_TRUE(QTest::qWaitFor([&] { return portal->binds == 1; }, 5000));
    ASSERT_EQ(portal->bound.size(), 1);
    EXPECT_EQ(portal->bound[0].id, PortalGlobalHotKey::kShortcutId);
    EXPECT_EQ(portal->bound[0].properties.value(QStringLiteral("preferred_trigger")).toString(),
              QStringLiteral("LOGO+slash"));
    EXPECT_FALSE(portal->bound[0].properties.value(QStringLiteral("description")).toString().isEmpty());

    // Another combination, an unregister and a register: still one session and one binding.
    hotKey.unregisterKey();
    EXPECT_EQ(hotKey.registerKey(45, HotKeyFlags::kControl), GlobalHotKeyBackend::Result::Registered);
    QTest::qWait(200);
    EXPECT_EQ(portal->sessions, 1);
    EXPECT_EQ(portal->binds, 1);

    portal->activate(PortalGlobalHotKey::kShortcutId);
    ASSERT_TRUE(QTest::qWaitFor([&] { return activated.count() == 1; }, 5000));
    // Another shortcut's activation, or another session's, is not ours.
    portal->activate(QStringLiteral("other"));
    portal->activate(PortalGlobalHotKey::kShortcutId, QStringLiteral("/org/freedesktop/portal/desktop/session/y/z"));
    QTest::qWait(200);
    EXPECT_EQ(activated.count(), 1);
    // Unregistered (switched off): activations are ignored.
    hotKey.unregisterKey();
    portal->activate(PortalGlobalHotKey::kShortcutId);
    QTest::qWait(200);
    EXPECT_EQ(activated.count(), 1);
    EXPECT_EQ(lost.count(), 0);
}

TEST_F(PortalTest, WithoutAPortalTheRegistrationIsLostAndTheUserLearnsWhatToBind)
{
    PortalGlobalHotKey hotKey(*client);
    QSignalSpy lost(&hotKey, &GlobalHotKeyBackend::registrationLost);
    hotKey.registerKey(61, kCommand);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lost.count() == 1; }, 5000));
    EXPECT_TRUE(hotKey.unavailableReason().contains(QStringLiteral("kelso toggle")));
    EXPECT_EQ(hotKey.registerKey(61, kCommand), GlobalHotKeyBackend::Result::Unavailable);
    QTest::qWait(100);
    EXPECT_EQ(lost.count(), 1) << "said once";
}

TEST_F(PortalTest, ARefusedBindingIsLost)
{
    FakePortal *portal = startPortal();
    portal->bindAnswer = 1; // the user cancelled the desktop's dialog
    PortalGlobalHotKey hotKey(*client);
    QSignalSpy lost(&hotKey, &GlobalHotKeyBackend::registrationLost);
    QSignalSpy activated(&hotKey, &GlobalHotKeyBackend::activated);
    hotKey.registerKey(61, kCommand);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lost.count() == 1; }, 5000));
    portal->activate(PortalGlobalHotKey::kShortcutId);
    QTest::qWait(200);
    EXPECT_EQ(activated.count(), 0);
}

TEST_F(PortalTest, TriggersNameModifiersAndTheKeysSymbol)
{
    PortalGlobalHotKey hotKey(*client);
    EXPECT_EQ(hotKey.triggerFor(61, kCommand), QStringLiteral("LOGO+slash"));
    EXPECT_EQ(hotKey.triggerFor(45, HotKeyFlags::kControl | HotKeyFlags::kOption), QStringLiteral("CTRL+ALT+k"));
    EXPECT_EQ(hotKey.triggerFor(71, HotKeyFlags::kShift), QStringLiteral("SHIFT+F5"));
}

} // namespace

#include "test_hot_key_portal.moc"
