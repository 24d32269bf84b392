#include "Gallery.h"

#include <cstdlib>
#include <filesystem>

#include <sqlite3.h>

#include "ExitCodes.h"
#include "common/ByteOrder.h"

namespace velmora_cli {

// A prepared statement that finalises itself; errors become CliError.
class Gallery::Statement {
public:
    Statement(const Gallery& gallery, const char* sql) : m_gallery(gallery)
    {
        const int rc = sqlite3_prepare_v2(gallery.m_db, sql, -1, &m_stmt, nullptr);
        if (rc != SQLITE_OK)
            gallery.Fail(rc, "read");
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, const std::string& text)
    {
        Check(sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& Bind(int index, const TemplateBuffer& blob)
    {
        Check(sqlite3_bind_blob64(m_stmt, index, blob.data(), blob.size(), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& Bind(int index, int64_t value)
    {
        Check(sqlite3_bind_int64(m_stmt, index, value));
        return *this;
    }
    // True while rows come; false when done.
    bool Step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        m_gallery.Fail(rc, "use");
    }
    int64_t Int(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::string Text(int column) const
    {
        const unsigned char* text = sqlite3_column_text(m_stmt, column);
        return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text),
                                                              static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)));
    }
    TemplateBuffer Blob(int column) const
    {
        const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(m_stmt, column));
        const int size = sqlite3_column_bytes(m_stmt, column);
        return bytes == nullptr ? TemplateBuffer() : TemplateBuffer(bytes, bytes + size);
    }
    bool IsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

private:
    void Check(int rc) const
    {
        if (rc != SQLITE_OK)
            m_gallery.Fail(rc, "use");
    }
    const Gallery& m_gallery;
    sqlite3_stmt* m_stmt = nullptr;
};

// A write transaction, taken at once so that two writers never both wait to upgrade.
class Gallery::Transaction {
public:
    explicit Transaction(const Gallery& gallery) : m_gallery(gallery) { gallery.Exec("BEGIN IMMEDIATE"); }
    ~Transaction()
    {
        if (!m_done)
            sqlite3_exec(m_gallery.m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit()
    {
        m_gallery.Exec("COMMIT");
        m_done = true;
    }

private:
    const Gallery& m_gallery;
    bool m_done = false;
};

namespace {

constexpr const char* kSchema =
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE people(name TEXT PRIMARY KEY, vectors INTEGER NOT NULL, template BLOB NOT NULL,"
    " updated TEXT NOT NULL);";

int32_t TemplateCount(const TemplateBuffer& t) { return ReadInt32LE(t.data()); }
int32_t TemplateDimension(const TemplateBuffer& t) { return ReadInt32LE(t.data() + 4); }

} // namespace

Gallery::Gallery(const std::string& path, Access access, int busyTimeoutMs) : m_path(path)
{
    std::error_code ec;
    if (access != Access::Create && !std::filesystem::exists(path, ec))
        throw CliError(kExitInput, "gallery not found: " + path);
    if (std::filesystem::is_directory(path, ec))
        throw CliError(kExitInput, "the gallery " + path + " is a folder, not a file");
    int flags = access == Access::Read ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    if (access == Access::Create)
        flags |= SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(m_db);
        m_db = nullptr;
        throw CliError(kExitInput, "cannot open the gallery " + path + " (" + sqlite3_errstr(rc) + ")");
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
    try {
        CheckFormat(access == Access::Create);
    } catch (...) {
        sqlite3_close(m_db);
        m_db = nullptr;
        throw;
    }
}

Gallery::~Gallery()
{
    sqlite3_close(m_db);
}

void Gallery::Exec(const char* sql) const
{
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        Fail(rc, "use");
}

void Gallery::Fail(int code, const std::string& doing) const
{
    const std::string detail = std::string(" (") + sqlite3_errmsg(m_db) + ")";
    switch (code & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
        throw CliError(kExitGallery, "the gallery " + m_path + " is damaged or not a SQLite database" + detail);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        throw CliError(kExitGallery, "the gallery " + m_path +
                                         " is busy: another run kept it locked too long; try again" + detail);
    case SQLITE_CANTOPEN:
        throw CliError(kExitInput, "cannot open the gallery " + m_path + detail);
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        throw CliError(kExitInput, "cannot write to the gallery " + m_path + detail);
    case SQLITE_FULL:
    case SQLITE_IOERR:
        throw CliError(kExitInput, "cannot " + doing + " the gallery " + m_path + " (disk full or I/O error)" + detail);
    case SQLITE_NOMEM:
        throw CliError(kExitFailure, "out of memory while using the gallery " + m_path);
    default:
        throw CliError(kExitGallery, "cannot " + doing + " the gallery " + m_path + detail);
    }
}

void Gallery::CheckFormat(bool mayCreate)
{
    auto readHeader = [this](int64_t& applicationId, int64_t& version, int64_t& objects) {
        Statement id(*this, "PRAGMA application_id");
        applicationId = id.Step() ? id.Int(0) : 0;
        Statement user(*this, "PRAGMA user_version");
        version = user.Step() ? user.Int(0) : 0;
        Statement count(*this, "SELECT count(*) FROM sqlite_master");
        objects = count.Step() ? count.Int(0) : 0;
    };
    int64_t applicationId = 0, version = 0, objects = 0;
    readHeader(applicationId, version, objects);
    if (applicationId == 0 && objects == 0) {
        if (!mayCreate)
            throw CliError(kExitGallery, m_path + " is an empty database, not a velmora gallery");
        Transaction t(*this);
        // Another run may have made the gallery since the look above.
        readHeader(applicationId, version, objects);
        if (applicationId == 0 && objects == 0) {
            Exec(kSchema);
            Exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
            Exec(("PRAGMA user_version = " + std::to_string(kFormatVersion)).c_str());
            applicationId = kApplicationId;
            version = kFormatVersion;
        }
        t.Commit();
    }
    if (applicationId != kApplicationId)
        throw CliError(kExitGallery, m_path + " is a SQLite database of another program, not a velmora gallery");
    if (version > kFormatVersion)
        throw CliError(kExitGallery, "the gallery " + m_path + " was made by a newer velmora (format " +
                                         std::to_string(version) + ")");
    Statement tables(*this, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('meta', 'people')");
    if (!tables.Step() || tables.Int(0) != 2)
        throw CliError(kExitGallery, "the gallery " + m_path + " is damaged (its tables are missing)");
}

std::optional<ModelIdentity> Gallery::ReadModel() const
{
    Statement s(*this, "SELECT key, value FROM meta WHERE key IN ('model_name', 'model_size', 'model_hash')");
    ModelIdentity model;
    bool hasHash = false;
    while (s.Step()) {
        const std::string key = s.Text(0);
        if (key == "model_name")
            model.name = s.Text(1);
        else if (key == "model_size")
            model.size = std::strtoll(s.Text(1).c_str(), nullptr, 10);
        else {
            model.hash = s.Text(1);
            hasHash = true;
        }
    }
    if (!hasHash)
        return std::nullopt;
    return model;
}

std::optional<ModelIdentity> Gallery::Model() const
{
    return ReadModel();
}

namespace {
void ThrowOtherModel(const std::string& path, const ModelIdentity& gallery, const ModelIdentity& used)
{
    throw CliError(kExitGallery, "the gallery " + path + " was built with the model " + gallery.Describe() +
                                     ", not with " + used.Describe() +
                                     ": give that model with --model, or enrol the people again into a new gallery");
}
} // namespace

void Gallery::RequireModel(const ModelIdentity& model) const
{
    const std::optional<ModelIdentity> own = ReadModel();
    if (!own || own->SameModel(model))
        return;
    Statement count(*this, "SELECT count(*) FROM people");
    if (count.Step() && count.Int(0) > 0)
        ThrowOtherModel(m_path, *own, model);
}

std::vector<EnrolResult> Gallery::Enrol(const std::vector<std::pair<std::string, TemplateBuffer>>& entries,
                                        const ModelIdentity& model)
{
    Transaction t(*this);
    int64_t people = 0;
    {
        Statement count(*this, "SELECT count(*) FROM people");
        people = count.Step() ? count.Int(0) : 0;
    }
    const std::optional<ModelIdentity> own = ReadModel();
    if (own && !own->SameModel(model) && people > 0)
        ThrowOtherModel(m_path, *own, model);

    int64_t dimension = 0;
    if (people > 0) {
        Statement d(*this, "SELECT value FROM meta WHERE key = 'dimension'");
        dimension = d.Step() ? std::strtoll(d.Text(0).c_str(), nullptr, 10) : 0;
        if (dimension < 1)
            throw CliError(kExitGallery, "the gallery " + m_path + " is damaged (no template dimension)");
    }
    {
        const std::pair<const char*, std::string> values[] = {{"model_name", model.name},
                                                              {"model_size", std::to_string(model.size)},
                                                              {"model_hash", model.hash}};
        for (const auto& [key, value] : values) {
            Statement s(*this, "INSERT OR REPLACE INTO meta(key, value) VALUES (?1, ?2)");
            s.Bind(1, std::string(key)).Bind(2, value).Step();
        }
    }

    std::vector<EnrolResult> results;
    for (const auto& [name, templ] : entries) {
        if (name.empty())
            throw CliError(kExitUsage, "a person's name must not be empty");
        if (!LooksLikeTemplate(templ))
            throw CliError(kExitFailure, "cannot enrol " + name + ": malformed template");
        if (dimension == 0) {
            dimension = TemplateDimension(templ);
            Statement s(*this, "INSERT OR REPLACE INTO meta(key, value) VALUES ('dimension', ?1)");
            s.Bind(1, std::to_string(dimension)).Step();
        }
        if (TemplateDimension(templ) != dimension)
            throw CliError(kExitInput, "cannot enrol " + name + ": its template has " +
                                           std::to_string(TemplateDimension(templ)) +
                                           " values per vector, the gallery's have " + std::to_string(dimension));
        EnrolResult result;
        result.name = name;
        result.added = TemplateCount(templ);
        TemplateBuffer joined = templ;
        {
            Statement find(*this, "SELECT template FROM people WHERE name = ?1");
            find.Bind(1, name);
            if (find.Step()) {
                const TemplateBuffer old = find.Blob(0);
                if (!LooksLikeTemplate(old) || TemplateDimension(old) != dimension)
                    throw CliError(kExitGallery, "the gallery " + m_path + " is damaged (the template of " + name +
                                                     " is malformed)");
                joined = JoinTemplates({old, templ});
            } else {
                result.isNew = true;
            }
        }
        result.vectors = TemplateCount(joined);
        Statement write(*this, "INSERT OR REPLACE INTO people(name, vectors, template, updated)"
                               " VALUES (?1, ?2, ?3, datetime('now'))");
        write.Bind(1, name).Bind(2, static_cast<int64_t>(result.vectors)).Bind(3, joined).Step();
        results.push_back(result);
    }
    t.Commit();
    return results;
}

std::vector<GalleryPerson> Gallery::People(bool withTemplates) const
{
    Statement s(*this, withTemplates ? "SELECT name, vectors, updated, template FROM people ORDER BY name"
                                     : "SELECT name, vectors, updated FROM people ORDER BY name");
    std::vector<GalleryPerson> people;
    while (s.Step()) {
        GalleryPerson p;
        p.name = s.Text(0);
        const int64_t vectors = s.Int(1);
        p.updated = s.Text(2);
        if (withTemplates) {
            p.templ = s.Blob(3);
            if (!LooksLikeTemplate(p.templ) || TemplateCount(p.templ) != vectors)
                throw CliError(kExitGallery, "the gallery " + m_path + " is damaged (the template of " + p.name +
                                                 " is malformed)");
        }
        if (vectors < 1 || vectors > INT32_MAX)
            throw CliError(kExitGallery, "the gallery " + m_path + " is damaged (bad vector count for " + p.name + ")");
        p.vectors = static_cast<int32_t>(vectors);
        people.push_back(std::move(p));
    }
    return people;
}

void Gallery::Remove(const std::vector<std::string>& names)
{
    Transaction t(*this);
    for (const std::string& name : names) {
        Statement s(*this, "DELETE FROM people WHERE name = ?1");
        s.Bind(1, name).Step();
        if (sqlite3_changes(m_db) == 0)
            throw CliError(kExitNotEnrolled, name + " is not in the gallery " + m_path + "; nothing was removed");
    }
    t.Commit();
}

} // namespace velmora_cli
