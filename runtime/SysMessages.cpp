#include "runtime/SysMessages.h"

#include <cstdlib>
#include <cstring>

#include "runtime/OsLocale.h"

namespace kivo {

namespace {

struct TSysText {
    uint32_t Code;
    const char* English;
    const char* German;
};

// The system message table for the Windows error codes this program passes
// around (exit codes of the elevated copy, shell start results, file errors).
constexpr TSysText SysTexts[] = {
    {0, "The operation completed successfully.", "Der Vorgang wurde erfolgreich beendet."},
    {1, "Incorrect function.", "Unzulässige Funktion."},
    {2, "The system cannot find the file specified.",
     "Das System kann die angegebene Datei nicht finden."},
    {3, "The system cannot find the path specified.",
     "Das System kann den angegebenen Pfad nicht finden."},
    {4, "The system cannot open the file.", "Das System kann die Datei nicht öffnen."},
    {5, "Access is denied.", "Zugriff verweigert"},
    {6, "The handle is invalid.", "Das Handle ist ungültig."},
    {8, "Not enough memory resources are available to process this command.",
     "Nicht genügend Speicher verfügbar, um diesen Befehl zu verarbeiten."},
    {13, "The data is invalid.", "Die Daten sind ungültig."},
    {19, "The media is write protected.", "Der Datenträger ist schreibgeschützt."},
    {31, "A device attached to the system is not functioning.",
     "Ein an das System angeschlossenes Gerät funktioniert nicht."},
    {32, "The process cannot access the file because it is being used by another process.",
     "Der Prozess kann nicht auf die Datei zugreifen, da sie von einem anderen Prozess "
     "verwendet wird."},
    {33,
     "The process cannot access the file because another process has locked a portion of "
     "the file.",
     "Der Prozess kann nicht auf die Datei zugreifen, da ein anderer Prozess einen Teil der "
     "Datei gesperrt hat."},
    {80, "The file exists.", "Die Datei ist vorhanden."},
    {87, "The parameter is incorrect.", "Falscher Parameter."},
    {112, "There is not enough space on the disk.",
     "Nicht genügend Speicherplatz auf dem Datenträger."},
    {122, "The data area passed to a system call is too small.",
     "Der an einen Systemaufruf übergebene Datenbereich ist zu klein."},
    {127, "The specified procedure could not be found.",
     "Die angegebene Prozedur wurde nicht gefunden."},
    {145, "The directory is not empty.", "Das Verzeichnis ist nicht leer."},
    {170, "The requested resource is in use.",
     "Die angeforderte Ressource wird bereits verwendet."},
    {183, "Cannot create a file when that file already exists.",
     "Eine Datei kann nicht erstellt werden, wenn sie bereits vorhanden ist."},
    {193, "%1 is not a valid Win32 application.", "%1 ist keine zulässige Win32-Anwendung."},
    {206, "The filename or extension is too long.",
     "Der Dateiname oder die Erweiterung ist zu lang."},
    {259, "No more data is available.", "Es sind keine weiteren Daten verfügbar."},
    {1008, "An attempt was made to reference a token that does not exist.",
     "Es wurde versucht, auf ein Token zuzugreifen, das nicht vorhanden ist."},
    {1117, "The request could not be performed because of an I/O device error.",
     "Die Anforderung konnte wegen eines E/A-Gerätefehlers nicht ausgeführt werden."},
    {1155, "No application is associated with the specified file for this operation.",
     "Für die angegebene Datei ist dieser Aktion keine Anwendung zugeordnet."},
    {1223, "The operation was canceled by the user.",
     "Der Vorgang wurde durch den Benutzer abgebrochen."},
};

TMessageLanguage LanguageFromLocale() {
    const char* Names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    for (const char* Name : Names) {
        const char* Value = std::getenv(Name);
        if (Value != nullptr && Value[0] != '\0') {
            return (std::strncmp(Value, "de", 2) == 0) ? mlGerman : mlEnglish;
        }
    }
    return mlEnglish;
}

TMessageLanguage& LanguageSlot() {
    static TMessageLanguage Language = LanguageFromLocale();
    return Language;
}

} // namespace

TMessageLanguage MessageLanguage() {
    return LanguageSlot();
}
void SetMessageLanguage(TMessageLanguage Value) {
    LanguageSlot() = Value;
}

std::string SysErrorMessage(uint32_t Code) {
    for (const TSysText& Entry : SysTexts) {
        if (Entry.Code == Code) return MessageLanguage() == mlGerman ? Entry.German : Entry.English;
    }
    return std::string();
}

std::string ErrnoMessage(int Err) {
    // The text in the user's message language.
    return os::ErrorNumberText(Err, MessageLanguage() == mlGerman);
}

std::string TrimSystemText(const std::string& Text) {
    size_t End = Text.size();
    while (End > 0) {
        unsigned char C = static_cast<unsigned char>(Text[End - 1]);
        if (C <= ' ' || C == '.')
            --End;
        else
            break;
    }
    return Text.substr(0, End);
}

} // namespace kivo
