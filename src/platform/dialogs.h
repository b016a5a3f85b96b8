#pragma once

#include <string>

namespace varno {

// The kinds of modal message box. Each kind fixes its icon and buttons:
// Message: no icon, "OK"; Confirmation: question mark, "&Oui"/"&Non";
// Warning: exclamation mark, "&Oui"/"&Non"; Error: error icon, "OK";
// RetryCancel: exclamation mark, "&Réessayer"/"Annuler".
enum class BoxKind { Message, Confirmation, Warning, Error, RetryCancel };

// The answers of the files-in-use box.
enum class FilesInUseChoice { ClosePrograms, Retry, Cancel };

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  /// Shows a modal box with this title and text and waits for the user. True when the
  /// answer is "&Oui" or "&Réessayer"; for the kinds with one OK button the result is true.
  virtual bool ShowBox(BoxKind kind, const std::string& title, const std::string& text) = 0;

  /// The modal directory-selection dialog ("Sélection du répertoire"), starting in the
  /// current directory, without help button or directory creation. Gives the chosen
  /// directory on OK, an empty string on "Annuler".
  virtual std::string SelectDirectory() = 0;

  /// The files-in-use box once the programs that hold them are known: exclamation mark,
  /// "Fermer les programmes", "&Réessayer" and "Annuler". Where no such box can be made, the
  /// RetryCancel box.
  virtual FilesInUseChoice AskAboutFilesInUse(const std::string& title, const std::string& text) {
    return ShowBox(BoxKind::RetryCancel, title, text) ? FilesInUseChoice::Retry : FilesInUseChoice::Cancel;
  }
};

}  // namespace varno
