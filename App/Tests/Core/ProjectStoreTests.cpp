#include "BrindlecoveApp/ViewModels/ProjectStore.hpp"

#include "Support/AppTestSandbox.hpp"

#include <QFile>
#include <QSignalSpy>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;

class ProjectStoreTests : public AppSandboxedTest {};

TEST_F(ProjectStoreTests, JobsRoundTripThroughTheSettingsFileWithTheVerbatimKeys) {
    {
        ProjectStore store;
        EXPECT_TRUE(store.jobs().isEmpty());
        EXPECT_FALSE(store.activeJob());
        store.addJob(QStringLiteral("Shoot, Day 1"));
        store.addJob(QStringLiteral("z\"q"));
        store.addJob(QStringLiteral("@Invalid()"));
        store.addJob(QStringLiteral("Café Ünïcode"));
    }
    QString file = qpath(configHome() / "Brindlecove" / "Brindlecove.conf");
    ASSERT_TRUE(QFile::exists(file));
    QFile raw(file);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    QByteArray text = raw.readAll();
    EXPECT_TRUE(text.contains("Brindlecove.projects="));
    EXPECT_TRUE(text.contains("Brindlecove.activeProject="));

    ProjectStore reloaded;
    EXPECT_EQ(reloaded.jobs(), (QStringList{QStringLiteral("Shoot, Day 1"), QStringLiteral("z\"q"),
                                            QStringLiteral("@Invalid()"), QStringLiteral("Café Ünïcode")}));
    EXPECT_EQ(reloaded.activeJob(), QStringLiteral("Café Ünïcode"));
}

TEST_F(ProjectStoreTests, OneJobAndNoJobRoundTrip) {
    {
        ProjectStore store;
        store.addJob(QStringLiteral("A, B"));
    }
    EXPECT_EQ(ProjectStore().jobs(), QStringList{QStringLiteral("A, B")});
    {
        ProjectStore store;
        store.removeJob(QStringLiteral("A, B"));
    }
    ProjectStore empty;
    EXPECT_TRUE(empty.jobs().isEmpty());
    EXPECT_FALSE(empty.activeJob());
}

TEST_F(ProjectStoreTests, AddJobTrimsActivatesAndRefusesBlanks) {
    ProjectStore store;
    QSignalSpy jobsChanged(&store, &ProjectStore::jobsChanged);
    EXPECT_EQ(store.addJob(QStringLiteral("  Feature \n")), QStringLiteral("Feature"));
    EXPECT_EQ(store.activeJob(), QStringLiteral("Feature"));
    EXPECT_EQ(defaults().string(ProjectStore::activeProjectKey), QStringLiteral("Feature"));

    store.addJob(QStringLiteral("Commercial"));
    EXPECT_EQ(store.addJob(QStringLiteral("Feature")), QStringLiteral("Feature"));
    EXPECT_EQ(store.jobs(), (QStringList{QStringLiteral("Feature"), QStringLiteral("Commercial")}));
    EXPECT_EQ(store.activeJob(), QStringLiteral("Feature"));
    EXPECT_EQ(jobsChanged.count(), 2);

    EXPECT_FALSE(store.addJob(QStringLiteral(" \t\u00A0")));
    EXPECT_EQ(store.activeJob(), QStringLiteral("Feature"));

    // Letter case makes two jobs.
    store.addJob(QStringLiteral("feature"));
    EXPECT_EQ(store.jobs().size(), 3);
}

TEST_F(ProjectStoreTests, RemovingTheActiveJobClearsItAndOtherRemovalsLeaveItAlone) {
    ProjectStore store;
    store.addJob(QStringLiteral("A"));
    store.addJob(QStringLiteral("B"));
    store.removeJob(QStringLiteral("A"));
    EXPECT_EQ(store.activeJob(), QStringLiteral("B"));
    store.removeJob(QStringLiteral("B"));
    EXPECT_FALSE(store.activeJob());
    EXPECT_EQ(defaults().string(ProjectStore::activeProjectKey), QString());
    EXPECT_TRUE(store.jobs().isEmpty());
}

TEST_F(ProjectStoreTests, StartUpStoresTheActiveJobTrimmedAndPublishesItAsStored) {
    defaults().setValue(ProjectStore::activeProjectKey, QStringLiteral("  Doc  "));
    ProjectStore store;
    EXPECT_EQ(store.activeJob(), QStringLiteral("  Doc  "));
    EXPECT_EQ(defaults().string(ProjectStore::activeProjectKey), QStringLiteral("Doc"));

    store.setActiveJob(QStringLiteral(" X "));
    EXPECT_EQ(store.activeJob(), QStringLiteral(" X "));
    EXPECT_EQ(defaults().string(ProjectStore::activeProjectKey), QStringLiteral("X"));
}

TEST_F(ProjectStoreTests, AnAbsentActiveJobBecomesAnEmptyStoredValue) {
    ProjectStore store;
    EXPECT_TRUE(defaults().contains(ProjectStore::activeProjectKey));
    EXPECT_EQ(defaults().string(ProjectStore::activeProjectKey), QString());
}
