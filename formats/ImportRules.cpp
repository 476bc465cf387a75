#include "formats/ImportRules.h"

#include "data/TextFold.h"

#include <QHash>

#include <array>
#include <utility>

namespace kestrel {

namespace {

struct SizedField {
    const char* name;
    int size;
};
constexpr SizedField kSizes[] = {{"LastName", 50}, {"FirstName", 50}, {"Company", 100}, {"Address", 50},
                                 {"City", 25},     {"ST", 2},         {"Zip", 10},      {"CellPh", 12},
                                 {"HomePh", 12},   {"WorkPh", 12},    {"Ext", 10},      {"Email", 50}};

bool isPhone(const QString& target)
{
    return target.compare(u"CellPh", Qt::CaseInsensitive) == 0 || target.compare(u"HomePh", Qt::CaseInsensitive) == 0 ||
           target.compare(u"WorkPh", Qt::CaseInsensitive) == 0;
}

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
                 "Calle", "Calle del domicilio particular", "Dirección 1 - Calle"}},
    {"City", {"City", "Business City", "Work City", "Address 1 - City", "Home City", "Town", "Ort geschäftlich", "Ort",
              "Stadt", "Ort privat", "Ville (bureau)", "Ville", "Ville (domicile)", "Adresse 1 - Ville",
              "Ciudad de trabajo", "Ciudad", "Localidad", "Ciudad del domicilio particular", "Dirección 1 - Ciudad"}},
    {"ST", {"ST", "State", "Province", "State/Province", "Business State", "Work State", "Address 1 - Region",
            "Home State", "Region", "Region geschäftlich", "Bundesland", "Region privat", "Dép/Région (bureau)",
            "État", "Province (bureau)", "Région", "Dép/Région (domicile)", "Adresse 1 - Région",
            "Estado o provincia de trabajo", "Estado", "Provincia", "Estado o provincia del domicilio particular",
            "Dirección 1 - Región"}},
    {"Zip", {"Zip", "Zip Code", "ZipCode", "Postal Code", "Postcode", "Business Postal Code", "Work ZipCode",
             "Work Zip Code", "Work Postal Code", "Address 1 - Postal Code", "Home Postal Code", "Home ZipCode",
             "Home Zip Code", "Postleitzahl geschäftlich", "PLZ", "Postleitzahl", "Postleitzahl privat",
             "Code postal (bureau)", "Code postal", "Code postal (domicile)", "Adresse 1 - Code postal",
             "Código postal del trabajo", "Código postal", "Código postal del domicilio particular",
             "Dirección 1 - Código postal"}},
    {"CellPh", {"CellPh", "Cell Phone", "Mobile Phone", "Mobile", "Mobile Number", "Cell", "Cellular Phone",
                "Mobiltelefon", "Handy", "Mobil", "Tél. mobile", "Téléphone mobile", "Portable", "Mobile (bureau)",
                "Teléfono móvil", "Móvil", "Celular"}},
    {"HomePh", {"HomePh", "Home Phone", "Home", "Private Phone", "Telefon privat", "Privat", "Téléphone domicile",
                "Tél. domicile", "Domicile", "Particular", "Teléfono particular", "Teléfono de casa"}},
    {"WorkPh", {"WorkPh", "Business Phone", "Work Phone", "Phone", "Telephone", "Office Phone", "Business", "Work",
                "Telefon geschäftlich", "Telefon", "Téléphone bureau", "Tél. bureau", "Téléphone", "Bureau",
                "Teléfono del trabajo", "Teléfono de trabajo", "Teléfono", "Trabajo"}},
    {"Ext", {"Ext", "Extension", "Phone Extension", "Durchwahl", "Poste", "Extensión"}},
    {"Email", {"Email", "E-mail Address", "Email Address", "E-mail", "Primary Email", "E-mail 1 - Value", "Mail",
               "E-Mail-Adresse", "E-Mail", "E-Mail 1 - Wert", "Adresse de messagerie", "Adresse e-mail", "Courriel",
               "E-mail 1 - Valeur", "Dirección de correo electrónico", "Correo electrónico", "Correo",
               "Correo electrónico 1 - Valor"}},
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
    for (const SizedField& f : kSizes)
        if (target.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0)
            return f.size;
    return 0;
}

QString regionCode(const QString& name) { return regions().value(lettersOnly(name)); }

Fitted fitValue(const QString& target, const QString& value)
{
    const int size = fieldSize(target);
    if (size == 0 || charCount(value) <= size)
        return {true, value, {}};
    const QString trimmed = value.trimmed();
    if (charCount(trimmed) <= size)
        return {true, trimmed, QStringLiteral("blanks around it removed")};
    if (isPhone(target)) {
        QString digits;
        bool formattingOnly = true;
        for (const QChar c : trimmed) {
            if (c.isDigit())
                digits += c;
            else if (!QStringView(u" ()-./+").contains(c))
                formattingOnly = false;
        }
        if (formattingOnly && !digits.isEmpty()) {
            const bool plus = trimmed.startsWith(u'+');
            // A North American number keeps its usual dashes when they still fit.
            const QString plain = !plus && digits.size() == 10
                                      ? digits.left(3) + u'-' + digits.mid(3, 3) + u'-' + digits.mid(6)
                                      : (plus ? QStringLiteral("+") : QString()) + digits;
            if (charCount(plain) <= size)
                return {true, plain, QStringLiteral("written without its formatting")};
        }
    }
    if (target.compare(u"ST", Qt::CaseInsensitive) == 0) {
        const QString code = regionCode(trimmed);
        if (!code.isEmpty())
            return {true, code, QStringLiteral("written as its two-letter code")};
    }
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
