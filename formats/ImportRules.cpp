#include "formats/ImportRules.h"

#include "data/ContactFields.h"
#include "data/TextFold.h"
#include "formats/PairedColumns.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <array>
#include <utility>

namespace kestrel {

namespace {

// Letters and digits only, lower case, without accents: the key names are compared by.
QString lettersOnly(const QString& value)
{
    const QString folded = foldForMatch(value);
    QString out;
    out.reserve(folded.size());
    for (const QChar c : folded)
        if (c.isLetterOrNumber())
            out += c;
    return out;
}

// US states, districts and territories, and Canadian provinces and territories in English and French.
const QHash<QString, QString>& regions()
{
    static const QHash<QString, QString> map = [] {
        static const std::pair<const char*, const char*> names[] = {
            {"Alabama", "AL"}, {"Alaska", "AK"}, {"Arizona", "AZ"}, {"Arkansas", "AR"}, {"California", "CA"},
            {"Colorado", "CO"}, {"Connecticut", "CT"}, {"Delaware", "DE"}, {"District of Columbia", "DC"},
            {"Florida", "FL"}, {"Georgia", "GA"}, {"Hawaii", "HI"}, {"Idaho", "ID"}, {"Illinois", "IL"},
            {"Indiana", "IN"}, {"Iowa", "IA"}, {"Kansas", "KS"}, {"Kentucky", "KY"}, {"Louisiana", "LA"},
            {"Maine", "ME"}, {"Maryland", "MD"}, {"Massachusetts", "MA"}, {"Michigan", "MI"}, {"Minnesota", "MN"},
            {"Mississippi", "MS"}, {"Missouri", "MO"}, {"Montana", "MT"}, {"Nebraska", "NE"}, {"Nevada", "NV"},
            {"New Hampshire", "NH"}, {"New Jersey", "NJ"}, {"New Mexico", "NM"}, {"New York", "NY"},
            {"North Carolina", "NC"}, {"North Dakota", "ND"}, {"Ohio", "OH"}, {"Oklahoma", "OK"}, {"Oregon", "OR"},
            {"Pennsylvania", "PA"}, {"Rhode Island", "RI"}, {"South Carolina", "SC"}, {"South Dakota", "SD"},
            {"Tennessee", "TN"}, {"Texas", "TX"}, {"Utah", "UT"}, {"Vermont", "VT"}, {"Virginia", "VA"},
            {"Washington", "WA"}, {"West Virginia", "WV"}, {"Wisconsin", "WI"}, {"Wyoming", "WY"},
            {"Puerto Rico", "PR"}, {"Guam", "GU"}, {"American Samoa", "AS"}, {"U.S. Virgin Islands", "VI"},
            {"Northern Mariana Islands", "MP"}, {"Alberta", "AB"}, {"British Columbia", "BC"}, {"Manitoba", "MB"},
            {"New Brunswick", "NB"}, {"Newfoundland and Labrador", "NL"}, {"Newfoundland", "NL"},
            {"Nova Scotia", "NS"}, {"Ontario", "ON"}, {"Prince Edward Island", "PE"}, {"Quebec", "QC"},
            {"Saskatchewan", "SK"}, {"Northwest Territories", "NT"}, {"Nunavut", "NU"}, {"Yukon", "YT"},
            {"Colombie-Britannique", "BC"}, {"Nouveau-Brunswick", "NB"}, {"Terre-Neuve-et-Labrador", "NL"},
            {"Nouvelle-Écosse", "NS"}, {"Île-du-Prince-Édouard", "PE"}, {"Territoires du Nord-Ouest", "NT"}};
        QHash<QString, QString> m;
        for (const auto& [name, code] : names)
            m.insert(lettersOnly(QString::fromUtf8(name)), QString::fromLatin1(code));
        return m;
    }();
    return map;
}

// Header names of the program's own files and of the contact exports of common mail programs,
// address books and phones, in English, German, French and Spanish; the most usual first.
struct KnownNames {
    const char* target;
    std::initializer_list<const char*> names;
};
const KnownNames kKnownNames[] = {
    {"LastName", {"LastName", "Last Name", "Surname", "Family Name", "Last", "Nachname", "Name", "Nom",
                  "Nom de famille", "Apellidos", "Apellido"}},
    {"FirstName", {"FirstName", "First Name", "Given Name", "First", "Forename", "Vorname", "Prénom", "Nombre"}},
    {"Company", {"Company", "Organization", "Organisation", "Organization 1 - Name", "Organization Name", "Firma",
                 "Unternehmen", "Société", "Entreprise", "Organisation 1 - Nom", "Compañía", "Empresa",
                 "Organización"}},
    {"Address", {"Address", "Street", "Business Street", "Work Address", "Address 1 - Street", "Home Street",
                 "Home Address", "Street Address", "Straße geschäftlich", "Straße", "Adresse", "Straße privat",
                 "Rue (bureau)", "Rue", "Rue (domicile)", "Adresse 1 - Rue", "Calle del trabajo", "Dirección",
                 "Calle", "Calle del domicilio particular", "Dirección 1 - Calle", "Address, Street", "Address Line 1",
                 "Address 1", "Street 1", "Mailing Street", "Mailing Address", "Billing Street", "Business Address"}},
    {"City", {"City", "Business City", "Work City", "Address 1 - City", "Home City", "Town", "Ort geschäftlich", "Ort",
              "Stadt", "Ort privat", "Ville (bureau)", "Ville", "Ville (domicile)", "Adresse 1 - Ville",
              "Ciudad de trabajo", "Ciudad", "Localidad", "Ciudad del domicilio particular", "Dirección 1 - Ciudad",
              "Address, City", "Mailing City", "Billing City"}},
    {"ST", {"ST", "State", "Province", "State/Province", "Business State", "Work State", "Address 1 - Region",
            "Home State", "Region", "Region geschäftlich", "Bundesland", "Region privat", "Dép/Région (bureau)",
            "État", "Province (bureau)", "Région", "Dép/Région (domicile)", "Adresse 1 - Région",
            "Estado o provincia de trabajo", "Estado", "Provincia", "Estado o provincia del domicilio particular",
            "Dirección 1 - Región", "Address, State", "Address, Region", "Mailing State/Province", "Mailing State",
            "Billing State/Province", "State/Region"}},
    {"Zip", {"Zip", "Zip Code", "ZipCode", "Postal Code", "Postcode", "Business Postal Code", "Work ZipCode",
             "Work Zip Code", "Work Postal Code", "Address 1 - Postal Code", "Home Postal Code", "Home ZipCode",
             "Home Zip Code", "Postleitzahl geschäftlich", "PLZ", "Postleitzahl", "Postleitzahl privat",
             "Code postal (bureau)", "Code postal", "Code postal (domicile)", "Adresse 1 - Code postal",
             "Código postal del trabajo", "Código postal", "Código postal del domicilio particular",
             "Dirección 1 - Código postal", "Address, ZIP", "Address, Zip Code", "Address, Postal Code", "ZIP/Postal Code",
             "Mailing Zip/Postal Code", "Mailing Postal Code", "Mailing Zip", "Billing Zip/Postal Code"}},
    {"CellPh", {"CellPh", "Cell Phone", "Mobile Phone", "Mobile", "Mobile Number", "Cell", "Cellular Phone",
                "Mobiltelefon", "Handy", "Mobil", "Tél. mobile", "Téléphone mobile", "Portable", "Mobile (bureau)",
                "Teléfono móvil", "Móvil", "Celular"}},
    {"HomePh", {"HomePh", "Home Phone", "Home", "Private Phone", "Telefon privat", "Privat", "Téléphone domicile",
                "Tél. domicile", "Domicile", "Particular", "Teléfono particular", "Teléfono de casa"}},
    {"WorkPh", {"WorkPh", "Business Phone", "Work Phone", "Phone", "Telephone", "Office Phone", "Business", "Work",
                "Telefon geschäftlich", "Telefon", "Téléphone bureau", "Tél. bureau", "Téléphone", "Bureau",
                "Teléfono del trabajo", "Teléfono de trabajo", "Teléfono", "Trabajo"}},
    {"Ext", {"Ext", "Extension", "Phone Extension", "Durchwahl", "Poste", "Extensión"}},
    {"Country", {"Country", "Country/Region", "Business Country/Region", "Work Country", "Address 1 - Country",
                 "Home Country/Region", "Home Country", "Land", "Land/Region geschäftlich", "Land/Region",
                 "Land/Region privat", "Pays", "Pays/Région (bureau)", "Pays/Région", "Pays/Région (domicile)",
                 "Adresse 1 - Pays", "País", "País o región del trabajo", "País o región", "Dirección 1 - País",
                 "Address, Country", "Mailing Country", "Billing Country"}},
    {"JobTitle", {"JobTitle", "Job Title", "Title", "Position", "Organization 1 - Title", "Job", "Position/Titel",
                  "Funktion", "Titre", "Fonction", "Poste occupé", "Puesto", "Cargo"}},
    {"WebSite", {"WebSite", "Web Page", "Website", "Web Site", "URL", "Web", "Homepage", "Home Page",
                 "Website 1 - Value", "Webseite", "Webseite 1 - Wert", "Page Web", "Site Web", "Página web",
                 "Sitio web"}},
    {"Birthday", {"Birthday", "Birth Date", "Birthdate", "Date of Birth", "Geburtstag", "Geburtsdatum",
                  "Anniversaire", "Date de naissance", "Cumpleaños", "Fecha de nacimiento"}},
    {"Notes", {"Notes", "Note", "Comments", "Comment", "Notizen", "Notiz", "Kommentar", "Bemerkungen", "Remarques",
               "Commentaires", "Notas", "Comentarios"}},
    {"Email", {"Email", "E-mail Address", "Email Address", "E-mail", "Primary Email", "E-mail 1 - Value", "Mail",
               "E-Mail-Adresse", "E-Mail", "E-Mail 1 - Wert", "Adresse de messagerie", "Adresse e-mail", "Courriel",
               "E-mail 1 - Valeur", "Dirección de correo electrónico", "Correo electrónico", "Correo",
               "Correo electrónico 1 - Valor"}},
    {"ConType", {"ConType", "Contact Type", "Kontakttyp", "Type de contact", "Tipo de contacto"}},
};

template <typename Text>
bool formulaStartIn(const Text& v, qsizetype n)
{
    qsizetype i = 0;
    while (i < n && v[i] == '\'')
        ++i;
    if (i >= n)
        return false;
    const auto c = v[i];
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

bool formulaStart(QStringView v) { return formulaStartIn(v, v.size()); }

// "+49 171 1234567", "+1 (555) 010-0100": a plus, a digit, then digits and the marks a phone
// number is written with. Nothing in it can name a function or a cell, so a spreadsheet that
// reads it as a formula at most computes a number; the guard would only put an apostrophe in
// front of every international number.
template <typename Text>
bool phoneNumberIn(const Text& v, qsizetype n)
{
    if (n < 2 || v[0] != '+' || !(v[1] >= '0' && v[1] <= '9'))
        return false;
    for (qsizetype i = 2; i < n; ++i) {
        const auto c = v[i];
        if (!((c >= '0' && c <= '9') || c == ' ' || c == '-' || c == '.' || c == '/' || c == '(' || c == ')'))
            return false;
    }
    return true;
}

// A value that begins with apostrophes keeps its guard whatever follows, so that reading it back
// takes away exactly the one added.
template <typename Text>
bool guardIn(const Text& v, qsizetype n)
{
    return formulaStartIn(v, n) && !phoneNumberIn(v, n);
}

} // namespace

int charCount(const QString& value)
{
    int n = 0;
    for (const QChar c : value)
        n += !c.isLowSurrogate();
    return n;
}

int fieldSize(const QString& target)
{
    const int f = contactFieldIndex(target);
    return f < 0 ? 0 : contactFields()[f].size;
}

QString regionCode(const QString& name) { return regions().value(lettersOnly(name)); }

namespace {
bool namesCountry(const QString& country, std::initializer_list<const char*> names)
{
    const QString key = lettersOnly(country);
    for (const char* n : names)
        if (key == lettersOnly(QString::fromUtf8(n)))
            return true;
    return false;
}
} // namespace

QString stateCode(const QString& state, const QString& country)
{
    const QString code = regionCode(state);
    if (code.isEmpty() || lettersOnly(country).isEmpty())
        return code;
    // Canada's provinces have codes of their own, and the two lists share no code.
    static const QSet<QString> canadian = {QStringLiteral("AB"), QStringLiteral("BC"), QStringLiteral("MB"),
                                           QStringLiteral("NB"), QStringLiteral("NL"), QStringLiteral("NS"),
                                           QStringLiteral("ON"), QStringLiteral("PE"), QStringLiteral("QC"),
                                           QStringLiteral("SK"), QStringLiteral("NT"), QStringLiteral("NU"),
                                           QStringLiteral("YT")};
    if (canadian.contains(code))
        return namesCountry(country, {"Canada", "CA", "CAN", "Kanada"}) ? code : QString();
    return namesCountry(country, {"US", "USA", "U.S.", "U.S.A.", "United States", "United States of America",
                                  "America", "Vereinigte Staaten", "États-Unis", "Etats-Unis", "Estados Unidos"})
               ? code
               : QString();
}

Fitted fitValue(const QString& target, const QString& value, const QString& country)
{
    const int field = contactFieldIndex(target);
    const int size = field < 0 ? 0 : contactFields()[field].size;
    const QString& v = value;
    if (field == cf::St) {
        // A state written out is filed by its code, as the editor files it: "Texas" is TX.
        const QString code = stateCode(v.trimmed(), country);
        if (!code.isEmpty() && code != v)
            return {true, code, QStringLiteral("written as its two-letter code")};
    } else if (field == cf::Birthday) {
        const std::optional<QString> day = parseBirthday(v);
        if (!day)
            return {false, value, QStringLiteral("not a day of the calendar")};
        if (*day != v)
            return {true, *day, QStringLiteral("written as %1").arg(*day)};
        return {true, v, {}};
    }
    // A phone number is kept as written, blanks and all: only a value too long loses the blanks
    // around it.
    if (size == 0 || charCount(v) <= size)
        return {true, v, {}};
    const QString trimmed = v.trimmed();
    if (charCount(trimmed) <= size)
        return {true, trimmed, QStringLiteral("blanks around it removed")};
    return {false, value, QStringLiteral("%1 characters, the field holds %2").arg(charCount(value)).arg(size)};
}

QString foldForMatch(const QString& value) { return foldedText(value).simplified(); }

QStringList mapByName(const QStringList& header)
{
    QStringList keys;
    for (const QString& name : header)
        keys << lettersOnly(name);
    QStringList targets(header.size());
    for (const KnownNames& known : kKnownNames) {
        bool done = false;
        for (const char* name : known.names) {
            const QString key = lettersOnly(QString::fromUtf8(name));
            for (qsizetype i = 0; i < keys.size() && !done; ++i) {
                if (targets[i].isEmpty() && keys[i] == key) {
                    targets[i] = QString::fromLatin1(known.target);
                    done = true;
                }
            }
            if (done)
                break;
        }
    }
    // The numbers of an address book that writes each with its type beside it ("Phone 1 - Type",
    // "Phone 1 - Value") are filed by that type row by row; the field given here is for a row
    // whose type says nothing.
    const QList<int> kinds = kindColumns(header);
    static const char* const phoneFields[] = {"WorkPh", "CellPh", "HomePh"};
    static const QStringList phoneWords{QStringLiteral("phone"), QStringLiteral("telefon"), QStringLiteral("telephone"),
                                        QStringLiteral("telefono")};
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (!targets[i].isEmpty() || kinds[i] < 0 ||
            std::none_of(phoneWords.cbegin(), phoneWords.cend(), [&](const QString& w) { return keys[i].startsWith(w); }))
            continue;
        for (const char* field : phoneFields)
            if (!targets.contains(QLatin1String(field))) {
                targets[i] = QLatin1String(field);
                break;
            }
    }
    return targets;
}

bool needsFormulaGuard(const char* value, int size) { return guardIn(value, size); }

QString spreadsheetEscaped(const QString& value)
{
    return guardIn(QStringView(value), value.size()) ? u'\'' + value : value;
}

QString spreadsheetUnescaped(const QString& value)
{
    if (value.startsWith(u'\'') && formulaStart(QStringView(value).mid(1)))
        return value.mid(1);
    return value;
}

} // namespace kestrel
