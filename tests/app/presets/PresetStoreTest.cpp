#include "app/presets/PresetStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "app/presets/PresetCodec.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

class PresetStoreTest : public ::testing::Test {
 protected:
  [[nodiscard]] std::unique_ptr<UserDefaults> openDefaults() const {
    return std::make_unique<UserDefaults>(
        QString::fromStdString((dir_ / "defaults.json").string()));
  }
  // The stored bytes as a fresh reader of the file sees them.
  [[nodiscard]] std::optional<QByteArray> storedOnDisk(const char* key = "fanPresets") const {
    return openDefaults()->data(QLatin1StringView(key));
  }

  testing::TempDir dir_;
  std::unique_ptr<UserDefaults> defaults_ = openDefaults();
};

Preset preset(const char* name, PresetMode mode, std::int64_t value,
              std::optional<QString> symbol = std::nullopt) {
  return {QUuid::createUuid(), name, mode, value, std::move(symbol)};
}

TEST_F(PresetStoreTest, ChangesAreWrittenBeforeTheyReturnAndAnnounced) {
  defaults_->setString("activePresetID", "5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6D");
  const log::Capture capture;
  PresetStore store(*defaults_);
  EXPECT_EQ(store.activePresetID(), std::nullopt);
  EXPECT_FALSE(defaults_->hasStoredValue("activePresetID"));
  EXPECT_EQ(storedOnDisk(), "[]") << "an empty start rewrites the list";
  EXPECT_FALSE(defaults_->hasStoredValue("fanPresetsBackup"));
  EXPECT_TRUE(capture.lines().empty());

  QSignalSpy announcements(&store, &PresetStore::entitiesChanged);
  QSignalSpy activeChanges(&store, &PresetStore::activePresetIDChanged);
  const Preset quiet = preset("Quiet", PresetMode::percentage, 30, QStringLiteral("wind"));
  const Preset loud = preset("Loud", PresetMode::rpm, 5000);
  const Preset middle = preset("Middle", PresetMode::percentage, 60);
  for (const Preset& added : {quiet, loud, middle}) store.add(added);
  Preset louder = loud;
  louder.name = "Louder";
  louder.symbol = QStringLiteral("\U0001F525");
  store.update(louder);
  EXPECT_EQ(store.presets(), (QList<Preset>{quiet, louder, middle})) << "appended, then in place";
  EXPECT_EQ(PresetStore(*openDefaults()).presets(), store.presets()) << "the next run reads it";
  EXPECT_EQ(announcements.count(), 4);

  const QByteArray before = *storedOnDisk();
  store.update(preset("Stranger", PresetMode::rpm, 2000));
  EXPECT_EQ(announcements.count(), 4) << "an unknown id changes nothing";
  EXPECT_EQ(storedOnDisk(), before);

  // Deleting ends the active mark only when it is its own.
  store.setActivePresetID(loud.id);
  store.deletePreset(quiet.id);
  EXPECT_EQ(store.activePresetID(), loud.id);
  store.deletePreset(loud.id);
  store.deletePreset(middle.id);
  EXPECT_EQ(store.activePresetID(), std::nullopt);
  EXPECT_EQ(activeChanges.count(), 2);
  EXPECT_EQ(storedOnDisk(), "[]");
  EXPECT_FALSE(defaults_->hasStoredValue("activePresetID")) << "the mark is never stored";
}

// Unreadable entries, or data that cannot be read at all, are dropped only after the original
// is kept; the next run finds a clean list and leaves the backup alone.
TEST_F(PresetStoreTest, UnreadableDataIsKeptBeforeItIsReplaced) {
  const QList<Preset> kept{preset("One", PresetMode::rpm, 2000),
                           preset("Two", PresetMode::percentage, 80, QStringLiteral("flame"))};
  QByteArray partly = encodePresets(kept);
  partly.insert(partly.indexOf(",{") + 1,
                R"({"id":"5C0A3B1E-9F2D-4C6A-8B7E-1D2F3A4B5C6D","name":"Odd","mode":"turbo",)"
                R"("value":1},)");
  const struct {
    std::function<void(UserDefaults&)> store;
    QByteArray backup;
    QList<Preset> presets;
    const char* line;
  } cases[] = {
      {[&](UserDefaults& d) { d.setData("fanPresets", partly); }, partly, kept,
       "[Zephro] Dropped 1 of 3 stored presets that could not be read (entry 2: unknown mode); "
       "the original data is kept under \"fanPresetsBackup\""},
      {[](UserDefaults& d) { d.setData("fanPresets", "[{\"id\": tru"); },
       "[{\"id\": tru",
       {},
       "[Zephro] Stored presets could not be read (malformed JSON at byte 12); the original data "
       "is kept under \"fanPresetsBackup\""},
      {[](UserDefaults& d) { d.setString("fanPresets", "[]\u00e9"); },
       "[]\xc3\xa9",
       {},
       "[Zephro] Stored presets could not be read (not a data value); the original data is kept "
       "under \"fanPresetsBackup\""},
  };
  for (const auto& [storeValue, backup, presets, line] : cases) {
    SCOPED_TRACE(line);
    storeValue(*defaults_);
    const log::Capture capture;
    const PresetStore store(*defaults_);
    EXPECT_THAT(capture.lines(), ::testing::Contains(line));
    EXPECT_EQ(store.presets(), presets);
    EXPECT_EQ(storedOnDisk(), encodePresets(presets));
    EXPECT_EQ(storedOnDisk("fanPresetsBackup"), backup);
    EXPECT_EQ(PresetStore::loadStoredPresets(*defaults_), presets);
  }

  const log::Capture capture;
  const PresetStore nextRun(*defaults_);
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_EQ(storedOnDisk("fanPresetsBackup"), "[]\xc3\xa9");
}

}  // namespace
}  // namespace zephro
