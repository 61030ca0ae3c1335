// The Erase Card screen on a real loop-mounted card (root only): the banner follows the card
// in the reader as it is pulled and put back, with no report published meanwhile; put back,
// it is another mount than the one picked and is to be picked again.

#include "Support/AppTestSandbox.hpp"
#include "Support/LoopVolumeSet.hpp"

#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"
#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/Views/CardPrepView.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/SymbolLabel.hpp"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "Tessaline/CardPrep/CardFileSet.hpp"

#include <gtest/gtest.h>

namespace brindlecove::testing {
namespace {

namespace fs = std::filesystem;
using tessaline::MatchStatus;

class CardPrepViewVolumeTest : public AppSandboxedTest {
protected:
    LoopVolumeSet loops;
};

TEST_F(CardPrepViewVolumeTest, TheBannerFollowsTheCardInTheReader) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("ext4", "A001");
    const fs::path root = card.mountPoint();
    tessaline::testing::writeFile(root / "DCIM/100CANON/IMG_0001.JPG", std::string(5000, 'x'));

    CardPrepViewModel vm{CardPrepViewModel::Dependencies{}};
    ScanViewModel scan{ScanViewModel::Dependencies{}};
    DriveFormatViewModel::Dependencies formatDependencies;
    formatDependencies.backend.listCandidates = [] { return std::vector<tessaline::VolumeInfo>{}; };
    DriveFormatViewModel format(formatDependencies);
    CardPrepView view(vm, scan, format);
    auto* banner = view.findChild<SymbolLabel*>("erase.banner");
    auto* run = view.findChild<QPushButton*>("erase.run");
    ASSERT_TRUE(banner && run);

    vm.takeCard(QFile::decodeName(QByteArray::fromStdString(root.string())));
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    tessaline::MatchResult clip;
    clip.group.primaryFiles.push_back(tessaline::Fingerprint{.url = root / "DCIM/100CANON/IMG_0001.JPG", .byteSize = 5000});
    clip.status = MatchStatus::confirmed(sandbox / "drive/IMG_0001.JPG");
    // The report reads the card's identity itself, as a scan does.
    clip.group.primaryFiles.front().byteSize = int64_t(fs::file_size(root / "DCIM/100CANON/IMG_0001.JPG"));
    scan.setLastReport(std::make_shared<const tessaline::VerificationReport>(
        root, std::vector<fs::path>{sandbox / "drive"}, 0.0, std::vector{clip}, std::nullopt, std::vector<fs::path>{},
        std::vector<tessaline::OtherFile>{}, tessaline::CardFileSet::read(root).files));
    auto* field = view.findChild<QLineEdit*>("erase.confirmation");
    field->setText("mnt");
    Q_EMIT field->textEdited("mnt");
    ASSERT_TRUE(waitFor([&] { return banner->text().startsWith("Verified"); }));
    EXPECT_TRUE(run->isEnabled());

    // Pulled: nothing is mounted at the card's folder, which is no other card either.
    card.unmount();
    const QString notInserted = QString::fromUtf8("CARD NOT INSERTED — “mnt” isn't in the reader.");
    EXPECT_TRUE(waitFor([&] { return banner->text().startsWith(notInserted); }, 5000)) << banner->text().toStdString();
    EXPECT_FALSE(run->isEnabled());

    // Put back: the same card, but another mount than the one picked. The screen says so as
    // soon as it is mounted, before any click, and Erase stays off, acknowledged or not.
    card.remount();
    const QString remounted = EraseTexts::remountedText();
    EXPECT_TRUE(waitFor([&] { return banner->text() == remounted; }, 5000)) << banner->text().toStdString();
    EXPECT_EQ(banner->color(), Style::bad());
    EXPECT_FALSE(run->isEnabled());
    EXPECT_TRUE(view.findChild<QWidget*>("erase.acknowledgeRow")->isHidden()) << "no override for a stale pick";
    vm.setAcknowledgedUnverified(true);
    view.render();
    EXPECT_FALSE(run->isEnabled());
    EXPECT_FALSE(vm.runChecked(vm.reportFor(scan.sessionReports())));
    EXPECT_TRUE(std::holds_alternative<CardPrepViewModel::Idle>(vm.phase())) << "refused without a click's refusal";
    EXPECT_TRUE(fs::exists(root / "DCIM/100CANON/IMG_0001.JPG"));

    // Picked again, it is the scanned card, verified.
    vm.takeCard(QFile::decodeName(QByteArray::fromStdString(root.string())));
    field->setText("mnt");
    Q_EMIT field->textEdited("mnt");
    EXPECT_TRUE(waitFor([&] { return banner->text().startsWith("Verified"); }, 5000)) << banner->text().toStdString();
    EXPECT_TRUE(waitFor([&] { return run->isEnabled(); }));
}

}  // namespace
}  // namespace brindlecove::testing
