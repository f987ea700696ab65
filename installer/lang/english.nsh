; English texts of the installer. Shortcut names are defines as well: the uninstaller removes
; the shortcuts of either language.
!define LNK_MANUAL_EN "Kestrova manual"
!define LNK_UNINSTALL_EN "Uninstall Kestrova"

LangString LNK_MANUAL ${LANG_ENGLISH} "${LNK_MANUAL_EN}"
LangString LNK_UNINSTALL ${LANG_ENGLISH} "${LNK_UNINSTALL_EN}"

LangString SEC_PROGRAM ${LANG_ENGLISH} "Kestrova"
LangString DESC_PROGRAM ${LANG_ENGLISH} "The program, its manual, the Help launcher, readme, licence and Start menu shortcuts."
LangString SEC_BRIDGE ${LANG_ENGLISH} "ASPI bridge"
LangString DESC_BRIDGE ${LANG_ENGLISH} "Windows has no ASPI layer: this wnaspi32.dll of ours, beside kestrova.exe, reaches SCSI devices through Windows' driver, with the administrator rights that Kestrova asks for when it starts."
LangString DESC_BRIDGE_LAYER_FOUND ${LANG_ENGLISH} "Windows already has an ASPI layer, which Kestrova uses. Ticked, the bridge beside kestrova.exe is used instead of it."
LangString BRIDGE_OTHER_LAYER ${LANG_ENGLISH} "$INSTDIR already holds another wnaspi32.dll: it is left as it is, and the ASPI bridge is not installed."

LangString NEED_ADMIN ${LANG_ENGLISH} "Kestrova is installed for all users of this computer, which needs administrator rights. Please log on as an administrator, or start Setup with $\"Run as administrator$\"."
LangString UN_FOLDER_KEPT ${LANG_ENGLISH} "$INSTDIR still holds files that Setup did not install (image files, for example): the folder and those files are kept."
LangString UN_ASK_SETTING ${LANG_ENGLISH} "Also remove Kestrova's stored buffer size setting from the registry?$\r$\n$\r$\nChoose No to keep it for a later installation."
