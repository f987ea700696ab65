; Textes français de l'installateur (UTF-8). Les noms des raccourcis sont aussi des defines : le
; programme de désinstallation supprime les raccourcis de l'une et l'autre langue.
!define LNK_MANUAL_FR "Manuel de Kestrova"
!define LNK_UNINSTALL_FR "Désinstaller Kestrova"

LangString LNK_MANUAL ${LANG_FRENCH} "${LNK_MANUAL_FR}"
LangString LNK_UNINSTALL ${LANG_FRENCH} "${LNK_UNINSTALL_FR}"

LangString SEC_PROGRAM ${LANG_FRENCH} "Kestrova"
LangString DESC_PROGRAM ${LANG_FRENCH} "Le programme, son manuel, le lanceur de l'aide, le fichier lisez-moi, la licence et les raccourcis du menu Démarrer."
LangString SEC_BRIDGE ${LANG_FRENCH} "Pont ASPI"
LangString DESC_BRIDGE ${LANG_FRENCH} "Windows n'a pas de couche ASPI : notre wnaspi32.dll, à côté de kestrova.exe, passe par le pilote de Windows, avec les droits d'administrateur que Kestrova demande au démarrage."
LangString DESC_BRIDGE_LAYER_FOUND ${LANG_FRENCH} "Windows a déjà une couche ASPI, que Kestrova utilise. Cochée, le pont à côté de kestrova.exe serait utilisé à sa place."
LangString BRIDGE_OTHER_LAYER ${LANG_FRENCH} "$INSTDIR contient déjà une autre wnaspi32.dll : elle est laissée telle quelle, et le pont ASPI n'est pas installé."

LangString NEED_ADMIN ${LANG_FRENCH} "Kestrova s'installe pour tous les utilisateurs de cet ordinateur, ce qui demande les droits d'administrateur. Ouvrez une session d'administrateur, ou lancez l'installation avec $\"Exécuter en tant qu'administrateur$\"."
LangString UN_FOLDER_KEPT ${LANG_FRENCH} "$INSTDIR contient encore des fichiers que l'installation n'a pas mis en place (des fichiers image, par exemple) : le dossier et ces fichiers sont conservés."
LangString UN_ASK_SETTING ${LANG_FRENCH} "Supprimer aussi de la base de registre la taille de tampon enregistrée par Kestrova ?$\r$\n$\r$\nChoisissez Non pour la garder en vue d'une installation ultérieure."
