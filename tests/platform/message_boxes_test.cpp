#include "platform/message_boxes.h"

#include <gtest/gtest.h>

#include "support/memory_machine.h"

namespace varno {
namespace {

TEST(ApplicationTitle, IsTheNameUpToItsFirstFullStopWithLaterLettersLowered) {
  EXPECT_EQ(ApplicationTitle("C:\\Pkg\\Varnolith_MAJ_Solo.exe"), "Varnolith_maj_solo");
  EXPECT_EQ(ApplicationTitle("C:\\Pkg.d\\MAJ.v2.EXE"), "Maj");
  EXPECT_EQ(ApplicationTitle("ÉTÉ.exe"), "Été");
  EXPECT_EQ(ApplicationTitle("C:\\x\\NoExt"), "Noext");
}

TEST(ErrorBoxText, AddsAFullStopOnlyAfterCharactersBeyondIt) {
  EXPECT_EQ(ErrorBoxText("'' n'est pas une valeur entière correcte"), "'' n'est pas une valeur entière correcte.");
  EXPECT_EQ(ErrorBoxText("Impossible de créer le fichier C:\\a\\VarnoMaJLog.txt"),
            "Impossible de créer le fichier C:\\a\\VarnoMaJLog.txt.");
  EXPECT_EQ(ErrorBoxText("version 2"), "version 2.");
  EXPECT_EQ(ErrorBoxText("Echec au chargement de \"C:\\a.ocx\""), "Echec au chargement de \"C:\\a.ocx\"");
  EXPECT_EQ(ErrorBoxText("fin."), "fin.");
  EXPECT_EQ(ErrorBoxText("fin!"), "fin!");
  EXPECT_EQ(ErrorBoxText("fin'"), "fin'");
  EXPECT_EQ(ErrorBoxText("(fin)"), "(fin)");
  EXPECT_EQ(ErrorBoxText("fin-"), "fin-");  // '-' sorts before '.'
  EXPECT_EQ(ErrorBoxText("fin/"), "fin/.");
  EXPECT_EQ(ErrorBoxText("créé"), "créé.");  // bytes above 0x7F sort after it
  EXPECT_EQ(ErrorBoxText(""), "");
}

TEST(MessageBoxes, EachKindHasItsTitle) {
  fake::MemoryMachine machine;
  machine.dialogs.answers = {false, true};
  Platform platform = machine.platform();
  ShowPlainMessage(platform, "m");
  EXPECT_FALSE(AskConfirmation(platform, "q"));
  EXPECT_TRUE(AskWarning(platform, "w"));
  ShowErrorBox(platform, "e");
  ASSERT_EQ(machine.dialogs.shown.size(), 4u);
  EXPECT_EQ(machine.dialogs.shown[0].kind, BoxKind::Message);
  EXPECT_EQ(machine.dialogs.shown[0].title, "Varnolith_maj_solo");
  EXPECT_EQ(machine.dialogs.shown[1].kind, BoxKind::Confirmation);
  EXPECT_EQ(machine.dialogs.shown[1].title, "Confirmation");
  EXPECT_EQ(machine.dialogs.shown[2].kind, BoxKind::Warning);
  EXPECT_EQ(machine.dialogs.shown[2].title, "Avertissement");
  EXPECT_EQ(machine.dialogs.shown[3].kind, BoxKind::Error);
  EXPECT_EQ(machine.dialogs.shown[3].title, "Varnolith_maj_solo");
  EXPECT_EQ(machine.dialogs.shown[3].text, "e.");
}

}  // namespace
}  // namespace varno
