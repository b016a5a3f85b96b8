// Every text that the user sees or the run log holds, quoted once, exactly as the product
// shows it. The sources are UTF-8; the compiler turns every literal into Windows-1252.
// Inside the texts, \r and \n are the line breaks that the boxes and the log rely on.
#pragma once

namespace varno::text {

// Window.
inline constexpr char kFormCaption[] = "Mise à jour de Varnolith";
inline constexpr char kLabel1Designed[] = "Label1";
inline constexpr char kLabel2Designed[] = "_fichiers";
inline constexpr char kLabel3Designed[] = "_validation";
inline constexpr char kLabel4Designed[] = "_raccourcis";
inline constexpr char kLabel5Designed[] = "_Registre";
inline constexpr char kLabel6Designed[] = "_NewDir";
inline constexpr char kButton1Caption[] = "Quitter";

inline constexpr char kLabelFiles[] = "Mise à jour des fichiers\r\nFiles Update";
inline constexpr char kLabelDirectories[] = "Mise à jour des répertoires";
inline constexpr char kLabelValidation[] = "Validation de la version";
inline constexpr char kLabelShortcuts[] = "Mise à jour des raccourcis";
inline constexpr char kLabelRegistry[] = "Mise à jour du registre";
inline constexpr char kStatusRunning[] = "Mise à jour en cours d'exécution";
inline constexpr char kStatusFinished[] = "La mise à jour est terminée";
inline constexpr char kStatusRolledBack[] = "La mise à jour a été annulée";

// Message box titles (the plain message and the error box take the application's title).
inline constexpr char kConfirmationTitle[] = "Confirmation";
inline constexpr char kWarningTitle[] = "Avertissement";
inline constexpr char kYesButton[] = "&Oui";
inline constexpr char kNoButton[] = "&Non";
inline constexpr char kRetryButton[] = "&Réessayer";

// Questions and messages of the driver.
inline constexpr char kAskInstall[] = "Voulez-vous installer la mise à jour de Varnolith ?";
inline constexpr char kInstalledIsNewer[] =
    "La version installée est plus récente que la mise à jour.\nLa mise à jour ne peut être exécutée.";
inline constexpr char kAskRepeat[] = "Cette Mise à jour est déjà effective.\rVoulez-vous vraiment la reproduire ?";
inline constexpr char kAskInterrupt[] = "Voulez-vous interrompre la mise à jour ?";
inline constexpr char kNoRights[] =
    "Vous ne disposez pas des droits nécessaires pour effectuer cette mise à jour.\r\r"
    "Contactez l'administrateur de votre ordinateur ou ouvrez une session vous accordant au "
    "minimum les droits de l'\"utilisateur avec pouvoirs\".";

inline constexpr char kInstallationTooOld[] =
    "La version de Varnolith trouvée sur cet ordinateur est trop ancienne\rpour être mise à jour "
    "automatiquement\r\rIl faut désinstaller manuellement l'ancienne version\rpuis exécuter une nouvelle "
    "installation .\r"
    "\rREMARQUE :\rVOS PARAMETRES PERSONNELS ainsi que toutes les DONNEES PRODUITES\rpar l'utilisation de "
    "Varnolith sont préservées lors de la désinstallation.\rCes informations seront utilisées par la nouvelles "
    "version.";
inline constexpr char kPlatformRefused[] = "Système d'exploitation non reconnu !\rL'installation est annulée.";

inline constexpr char kControlMissing[] = "   n'existe pas";
inline constexpr char kSupportAddress[] = "assistance@tolmerik.fr";
inline constexpr char kDatabaseUpdateFailed[] =
    "L'installateur a rencontré un problème inconnu et n'a pas pu initialiser la base de donnée\r"
    "Demandez assistance par email à\r   ";

// Package description.
inline constexpr char kDescriptionNotFound[] =
    "Erreur: le fichier \"MjaIni.ini\" n'a pas été trouvé.\r\rVérifiez la validité paquet de mise à jour";

// Signed packages: the box, and the log line naming the file at fault and why.
inline constexpr char kPackageNotSigned[] = "Le paquet de mise à jour n'est pas signé ou a été modifié.";
inline constexpr char kLogPackageRefused[] = "Paquet refusé : %s (%s)";
inline constexpr char kLogPackageVerified[] = "Paquet signé vérifié";
inline constexpr char kFaultSignatureMissing[] = "signature absente";
inline constexpr char kFaultSignatureMalformed[] = "signature illisible";
inline constexpr char kFaultSignatureInvalid[] = "signature non valide";
inline constexpr char kFaultFileMissing[] = "fichier absent";
inline constexpr char kFaultFileSizeDiffers[] = "taille modifiée";
inline constexpr char kFaultFileContentDiffers[] = "contenu modifié";
inline constexpr char kFaultFileUnreadable[] = "fichier illisible";
inline constexpr char kFaultFileNotListed[] = "fichier non signé";

// Package archives, the file steps and the uninstall record.
inline constexpr char kArchiveNotRecognised[] = "Fichier archive non reconnu !";
inline constexpr char kFileMissing[] = "fichier manquant : ";
inline constexpr char kCannotOpenFile[] = "Impossible d'ouvrir le fichier %s";
inline constexpr char kMainArchiveFileName[] = "sor_ti1.slp";
inline constexpr char kUninstallRecordFileName[] = "UninstCgg.slt";
// Binary deltas of changed files, and the whole files for installations they do not fit.
inline constexpr char kDeltaArchiveFileName[] = "sor_delta.slp";
inline constexpr char kFullFilesArchiveFileName[] = "sor_full.slp";
inline constexpr char kDeltaSourceDiffers[] =
    "Des fichiers de l'installation ne sont pas ceux auxquels cette mise à jour s'applique ; rien n'a été modifié.";

// Shortcuts. A shortcut created without a name takes the target's file name after one of
// the two prefixes: with a blank on the desktop, without one in a program group.
inline constexpr char kNotAShortcut[] = "Le fichier visé n'est pas un raccourci Windows";
inline constexpr char kShortcutNotFound[] = "Raccourci non trouvé à l'endroit spécifié";
inline constexpr char kDesktopLinkDefaultPrefix[] = "Raccourci vers ";
inline constexpr char kProgramsLinkDefaultPrefix[] = "Raccourci vers";

// Raised errors.
inline constexpr char kNotAnInteger[] = "'%s' n'est pas une valeur entière correcte";
inline constexpr char kNotAFloat[] = "'%s' n'est pas une valeur en virgule flottante correcte";
inline constexpr char kNotABoolean[] = "'%s' n'est pas une valeur booléenne correcte";
inline constexpr char kNotADate[] = "'%s' n'est pas une date correcte";
inline constexpr char kNotATime[] = "'%s' n'est pas une heure correcte";
inline constexpr char kNotADateTime[] = "'%s' n'est pas une date et heure correcte";
inline constexpr char kCannotCreateFile[] = "Impossible de créer le fichier %s";
inline constexpr char kLibraryLoadFailed[] = "Echec au chargement de \"%s\"";
inline constexpr char kExportNotFound[] = "Procédure %s non trouvée dans \"%s\"";
inline constexpr char kExportFailed[] = "L'appel à %s a échoué dans \"%s\"";
inline constexpr char kRegistryWrongType[] = "Type de données incorrect pour '%s'";
inline constexpr char kRegistryWriteFailed[] = "Echec à la définition des données pour '%s'";
inline constexpr char kRegistryReadFailed[] = "Echec à la lecture des données pour '%s'";
inline constexpr char kLinkObjectFailed[] = "Impossible de créer l'objet raccourci";

// Run log lines, in the order in which a run can write them.
inline constexpr char kLogStart[] = "Mise à jour Varnolith";
inline constexpr char kLogCurrentDir[] = "CurrentDir =";
inline constexpr char kLogDescriptionMissing[] = "Fichier Ini  manquant\r\nTerminé";
inline constexpr char kLogValidControlDone[] = "ValidControl terminé avec succès";
inline constexpr char kLogInstallDir[] = "Chemin de Varnolith installé :";
inline constexpr char kLogDesktopLogDeleted[] = "Le fichier journal provisoire a été supprimé du bureau";
inline constexpr char kLogDesktopLogNotDeleted[] = "Echec à la suppression du fichier journal provisoire du bureau";
inline constexpr char kLogAnswerNo[] = "Réponse NON à l'invite de mise à jour";
inline constexpr char kLogAnswerYes[] = "Réponse OUI à l'invite de mise à jour";
inline constexpr char kLogInstalledIsOlder[] = "Version installée moins récente que la nouvelle";
inline constexpr char kLogNoRights[] = "Ne peut installer Varnolith : manque de droits";
inline constexpr char kLogHasRights[] = "Possède les droits suffisants pour installer la mise à jour";
inline constexpr char kLogBeforeRecord[] = "Avant Création WriteLogList";
inline constexpr char kLogAfterRecord[] = "Après Création WriteLogList";
inline constexpr char kLogRecordLoaded[] = "Chargement de WriteLogList effectué";
inline constexpr char kLogFileCopyDone[] = "FileCopy effectué";
inline constexpr char kLogWritePcknameDone[] = "Succès WritePckname";
inline constexpr char kLogDisplayVersion[] = "Version affichée dans Programmes et fonctionnalités, entrée : ";
inline constexpr char kLogBeforeCreateNewDir[] = "Avant CreateNewDir";
inline constexpr char kLogBeforeCopyInNewDir[] = "Avant CopyInNewDir";
inline constexpr char kLogAfterCopyInNewDir[] = "Après CopyInNewDir";
inline constexpr char kLogDeltaSourceDiffers[] =
    "Fichier installé différent de celui auquel la différence s'applique : ";
inline constexpr char kLogDeltaWholeFile[] = "Fichier installé différent, le fichier entier est utilisé : ";
inline constexpr char kLogApplyDeltas[] = "ApplyDeltas : fichiers faits de leur différence";
inline constexpr char kLogDeltaApplied[] = "Différence appliquée : ";
inline constexpr char kLogWholeFileWritten[] = "Fichier entier écrit : ";
inline constexpr char kLogDeltaFailed[] = "Différence non appliquée : ";
inline constexpr char kLogDeleteDroppedFiles[] = "DeleteDroppedFiles : fichiers retirés de la version";
inline constexpr char kLogDeleteInTheWay[] = "DeleteDroppedFiles : chemins qui changent de nature, supprimés d'abord";
inline constexpr char kLogFileDeleted[] = "Fichier supprimé : ";
inline constexpr char kLogDirectoryDeleted[] = "Répertoire supprimé : ";
inline constexpr char kLogDeleteAbsent[] = "Déjà absent, rien à supprimer : ";
inline constexpr char kLogDirectoryNotEmpty[] = "Répertoire non vide, conservé : ";
inline constexpr char kLogDeleteFailed[] = "Suppression impossible, fichier conservé : ";
inline constexpr char kLogDeleteRefused[] =
    "Suppression refusée (hors du répertoire d'installation ou fichier du programme de mise à jour) : ";
inline constexpr char kLogBeforeMjaShellLink[] = "Avant MjaShellLink ";
inline constexpr char kLogBeforeAddShellLink[] = "Avant AddShellLink ";
inline constexpr char kLogBeforeMjaVarnoReg[] = "Avant MjaVarnoReg  ";
inline constexpr char kLogAfterMjaVarnoReg[] = "après MjaVarnoReg  ";
inline constexpr char kLogRecordSaved[] = "Après WriteLogList.SaveToFile";
inline constexpr char kLogBeforeControl[] = "Avant l'enregistrement de Varxxlith.ocx";
inline constexpr char kLogControlDeleted[] = " : succes de la supression";
inline constexpr char kLogControlNotDeleted[] = " : échec de la supression";
inline constexpr char kLogControlCopyFailed[] = "Echec lors de la copie de Varxxlith.ocx dans ";
inline constexpr char kLogRegisteringControl[] = "Enregistrement de Varxxlith.ocx dans ";
inline constexpr char kLogAfterControl[] = "Après l'enregistrement de Varxxlith.ocx";
inline constexpr char kLogAfterDatabase[] = "Après SetUpDateTable";
inline constexpr char kLogFinish[] = "Fin contrôlée du programme de mise à jour";

// The guards before anything is written.
inline constexpr char kAlreadyRunning[] = "Une mise à jour de Varnolith est déjà en cours.";
inline constexpr char kFilesInUse[] =
    "Des fichiers de Varnolith que la mise à jour doit remplacer sont en cours d'utilisation :\r%s\r\r"
    "Fermez %s puis cliquez sur Réessayer.";
inline constexpr char kProgramsUnknown[] = "les programmes qui les utilisent";
inline constexpr char kFilesInUseByPrograms[] =
    "Des fichiers de Varnolith que la mise à jour doit remplacer sont en cours d'utilisation :\r%s\r\r"
    "Programmes qui les utilisent :\r%s\r\r"
    "Fermez-les puis cliquez sur Réessayer, ou cliquez sur Fermer les programmes :\r"
    "la mise à jour les fermera, puis les relancera une fois terminée.";
inline constexpr char kClosePrograms[] = "Fermer les programmes";
inline constexpr char kFileHolder[] = "%s (processus %s, utilisateur %s)";
inline constexpr char kUnknownUser[] = "inconnu";
inline constexpr char kDiskSpaceTooLow[] =
    "Espace disque insuffisant dans %s : la mise à jour doit écrire %s Mo et seuls %s Mo sont libres.\r"
    "La mise à jour ne peut être exécutée.";
inline constexpr char kLogAlreadyRunning[] = "Une autre mise à jour est en cours : fin";
inline constexpr char kLogFilesInUse[] = "Fichier en cours d'utilisation : ";
inline constexpr char kLogFilesInUseCancelled[] = "Annulation demandée : fichiers en cours d'utilisation";
inline constexpr char kLogFileHolder[] = "Programme qui utilise des fichiers à remplacer : %s : %s";
inline constexpr char kLogCloseAsked[] = "Fermeture demandée : %s";
inline constexpr char kLogClosed[] = "Programme fermé : %s";
inline constexpr char kLogCloseRefused[] = "Programme non fermé, il a refusé de se fermer : %s";
inline constexpr char kLogCloseNotDone[] = "Programme non fermé, il est toujours en cours d'exécution : %s";
inline constexpr char kLogForcedToEnd[] = "Programme arrêté sans son accord : %s";
inline constexpr char kLogRestarted[] = "Programme relancé : %s (répertoire : %s)";
inline constexpr char kLogNotRestarted[] = "Programme non relancé : %s";
inline constexpr char kLogDiskSpaceTooLow[] = "Espace disque insuffisant : fin";

// Rollback: a failed run taken back, and an interrupted one finished by the next run.
inline constexpr char kLogRollbackStart[] = "Annulation de la mise à jour";
inline constexpr char kLogRollbackDone[] = "Mise à jour annulée, installation restaurée";
inline constexpr char kLogNotRestored[] = "Non restauré : ";
inline constexpr char kLogRollbackIncomplete[] =
    "Restauration incomplète : elle sera reprise au prochain lancement de la mise à jour";
inline constexpr char kLogInterruptedByUser[] = "Mise à jour interrompue à la demande de l'utilisateur";
inline constexpr char kLogInterruptedRunFound[] = "Mise à jour interrompue trouvée dans ";
inline constexpr char kLogInterruptedRunCleaned[] = "Fichiers de sauvegarde de la mise à jour précédente supprimés";
inline constexpr char kLogJournalSetAside[] =
    "Journal écarté sans être appliqué : il nomme ce qu'une mise à jour ne modifie pas : ";
inline constexpr char kLogNotRemoved[] = "Non supprimé : ";
inline constexpr char kLogJournalUntrusted[] =
    "Journal écarté sans être appliqué : il n'est pas celui d'une mise à jour exécutée en administrateur (%s) : ";
inline constexpr char kUntrustedLinked[] = "lien ou fichier à plusieurs noms";
inline constexpr char kUntrustedOwner[] = "son propriétaire n'est pas un administrateur";
inline constexpr char kUntrustedWritable[] = "d'autres comptes peuvent le modifier";
// Code an updater built with the vendor's key would load as administrator.
inline constexpr char kCodeChangedSinceWritten[] =
    "%s a été modifié depuis que la mise à jour l'a écrit à partir du paquet signé : il n'est ni chargé ni enregistré";
inline constexpr char kCodeNotSigned[] =
    "%s ne vient pas du paquet signé et n'est pas protégé (%s) : il n'est ni chargé ni enregistré";
inline constexpr char kCodeNotHeld[] = "il ne peut pas être vérifié";
inline constexpr char kLogPathUntrusted[] =
    "Journal refusé : %s n'est pas sûr (%s) ; choisissez un emplacement que seuls les administrateurs peuvent modifier";
// A directory of the installation, or one above it, that the run cannot hold for its whole
// length: nothing is changed.
inline constexpr char kDirectoryNotHeld[] =
    "Mise à jour refusée : le dossier %s ne peut pas être tenu pendant la mise à jour (%s). "
    "Aucun fichier n'a été modifié";
inline constexpr char kNotHeldLinked[] = "c'est une jonction ou un lien";
inline constexpr char kNotHeldMissing[] = "il n'existe pas";
inline constexpr char kNotHeldRefused[] = "un autre programme l'a ouvert pour le renommer ou le supprimer";
inline constexpr char kLogRecoveryNotHeld[] =
    "Mise à jour interrompue non reprise : ce dossier est une jonction ou ne peut pas être tenu : ";
inline constexpr char kUntrustedExtraName[] = "fichier à plusieurs noms";
inline constexpr char kUntrustedUnanchored[] = "aucune mise à jour en cours ne l'a annoncé";
inline constexpr char kLogRunJournalLost[] =
    "Journal de la mise à jour interrompue absent ou remplacé : l'installation est peut-être incomplète, "
    "la prochaine mise à jour l'appliquera de nouveau en entier : ";
inline constexpr char kLogStrayMovedAside[] = "Élément étranger à la place du journal, mis de côté : ";
inline constexpr char kLogRepairByApplyingAgain[] =
    "Une mise à jour précédente est restée inachevée : la mise à jour est appliquée de nouveau en entier";
inline constexpr char kLogJournalOwnerRefused[] =
    "Le groupe Administrateurs ne peut pas être propriétaire du journal : aucune modification faite";
inline constexpr char kJournalOwnerRefused[] =
    "La mise à jour ne peut pas protéger son journal dans %s : le groupe Administrateurs ne peut pas "
    "en être propriétaire (lecteur réseau ou droits insuffisants).\rAucune modification n'a été faite.";
inline constexpr char kLogRecordNotRead[] =
    "Fichier de désinstallation non lu (lien ou fichier à plusieurs noms), il sera réécrit : ";

// The command line and the runs without anyone present.
inline constexpr char kUsage[] =
    "Utilisation : Varnolith_MAJ_Solo.exe [/quiet [/reinstall]] [/dir=CHEMIN] [/log=CHEMIN]\r"
    "    [/closeapplications | /forcecloseapplications]\r\r"
    "/quiet : ni fenêtre ni question ; les messages sont écrits dans le journal\r"
    "/reinstall : avec /quiet, applique de nouveau la version déjà installée\r"
    "/closeapplications : ferme les programmes qui utilisent les fichiers à remplacer, puis les relance\r"
    "/forcecloseapplications : de même, et arrête ceux qui refusent de se fermer\r"
    "/dir=CHEMIN : le répertoire de Varnolith quand il n'est pas trouvé\r"
    "/log=CHEMIN : le journal de la mise à jour, complété à chaque lancement\r"
    "/? ou /help : cette aide";
inline constexpr char kLogUnattendedBox[] = "Message (%s) : %s";
inline constexpr char kLogUnattendedYes[] = "Réponse automatique : OUI";
inline constexpr char kLogUnattendedNo[] = "Réponse automatique : NON";
inline constexpr char kLogNoInstallationFound[] = "Aucune installation de Varnolith trouvée";
inline constexpr char kLogArchiveRefusedStop[] = "Archive non reconnue, la mise à jour est abandonnée : ";
inline constexpr char kLogExitCode[] = "Code de sortie : %s";
inline constexpr char kLogLogDirectoryMade[] = "Répertoire du journal créé : %s";

// The run's event in the Application log: the exit code, the versions before and after, the
// log's path.
inline constexpr char kEventRunSucceeded[] =
    "Mise à jour de Varnolith terminée (code de sortie %s). Version avant : %s ; après : %s. Journal : %s";
inline constexpr char kEventRunFailed[] =
    "Mise à jour de Varnolith non appliquée (code de sortie %s). Version avant : %s ; après : %s. Journal : %s";
inline constexpr char kEventNoVersion[] = "aucune";
inline constexpr char kEventFileHolders[] = " Programmes qui utilisaient des fichiers à remplacer : %s";

// A run log on the desktop or in the package directory that is a link: not written there.
inline constexpr char kLogLinkedLogRefused[] = "Journal provisoire non écrit, le fichier ou son répertoire est un lien : %s";

// File names.
inline constexpr char kRunLogFileName[] = "VarnoMaJLog.txt";
inline constexpr char kDescriptionFileName[] = "MjaIni.ini";
inline constexpr char kActionProgram[] = "Action.exe";
inline constexpr char kProgramFile[] = "Varnolith.exe";
inline constexpr char kAdminProgramFile[] = "AdminVarnolith.exe";
inline constexpr char kAdminLibraryFile[] = "Admin.dll";
inline constexpr char kControlFileName[] = "Varxxlith.ocx";

// Directory dialog.
inline constexpr char kDirectoryDialogTitle[] = "Sélection du répertoire";
inline constexpr char kDirectoryNameLabel[] = "&Nom de répertoire :";
inline constexpr char kDirectoriesLabel[] = "&Répertoires :";
inline constexpr char kFilesLabel[] = "&Fichiers : (*.*)";
inline constexpr char kDrivesLabel[] = "&Lecteurs :";
inline constexpr char kOkButton[] = "OK";
inline constexpr char kCancelButton[] = "Annuler";

}  // namespace varno::text
