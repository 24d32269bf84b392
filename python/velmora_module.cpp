// The velmora Python module: NumPy images in, the velmora tool's own C++ code
// (velmora_cli) underneath, so that Python and the tool find the same faces,
// make the same templates and share gallery files.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <array>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Commands.h"
#include "ExitCodes.h"
#include "Gallery.h"
#include "GreyImage.h"
#include "Identification.h"
#include "LibraryMessages.h"
#include "ModelFiles.h"
#include "ModelIdentity.h"
#include "Recognizer.h"
#include "TemplateFile.h"
#include "common/ByteOrder.h"
#include "recognizer/Engine.h"

namespace py = pybind11;
using namespace velmora_cli;
using Path = std::filesystem::path;

// Arguments the module takes as any object and checks itself (to raise its own
// errors), shown in signatures and help() as what they should be.
#define VELMORA_ARGUMENT(Type, shown)                                                                    \
    struct Type {                                                                                        \
        py::object object;                                                                               \
    };                                                                                                   \
    namespace pybind11::detail {                                                                         \
    template <>                                                                                          \
    struct type_caster<Type> {                                                                           \
        PYBIND11_TYPE_CASTER(Type, const_name(shown));                                                   \
        bool load(handle source, bool)                                                                   \
        {                                                                                                \
            value.object = reinterpret_borrow<object>(source);                                           \
            return true;                                                                                 \
        }                                                                                                \
        static handle cast(const Type& v, return_value_policy, handle) { return v.object.inc_ref(); }    \
    };                                                                                                   \
    }

VELMORA_ARGUMENT(ImageArg, "numpy.ndarray[numpy.uint8]")
VELMORA_ARGUMENT(EyesArg, "Union[velmora.Face, Tuple[int, int, int, int]]")
VELMORA_ARGUMENT(OptionalEyesArg, "Optional[Union[velmora.Face, Tuple[int, int, int, int]]]")
VELMORA_ARGUMENT(ProbeArg, "Union[velmora.Template, numpy.ndarray[numpy.uint8]]")
VELMORA_ARGUMENT(ItemsArg, "Union[velmora.Template, numpy.ndarray[numpy.uint8], Iterable]")

namespace {

// A Python argument of the wrong type (TypeError); wrong values are CliError kExitUsage.
class WrongType : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------- the library's shared state

// The library keeps one model, one face detector and their work areas for the
// whole process. So the module owns one Recognizer, remembers which model is
// loaded in it, and lets one call in at a time.
class Library {
public:
    // Never destroyed: Python may still call in while the interpreter shuts down.
    static Library& Get()
    {
        static Library* library = new Library;
        return *library;
    }

    std::mutex mutex;
    std::ostringstream said; // what the library and the tool's code reported during the current call

    Recognizer& Tool()
    {
        if (!m_recognizer)
            m_recognizer = std::make_unique<Recognizer>(said);
        return *m_recognizer;
    }

    // The recognizer with this model loaded, loading it only when another one is in memory.
    Recognizer& WithModel(const std::string& path, const ModelIdentity& identity)
    {
        Recognizer& r = Tool();
        if (!m_loaded || !m_loaded->SameModel(identity)) {
            m_loaded.reset();
            r.LoadModel(path);
            m_loaded = identity;
            m_prepared = true;
        }
        return r;
    }

    // The recognizer ready to cut faces, with or without a model.
    Recognizer& ForCutting()
    {
        Recognizer& r = Tool();
        if (!m_prepared) {
            r.PrepareWithoutModel();
            m_prepared = true;
        }
        return r;
    }

    // A tool command made its own CVelmora (and training its own model) and
    // took the message handler with it when done.
    void AfterToolCommand()
    {
        m_loaded.reset();
        m_prepared = false;
        m_relay.reset();
        m_relay.emplace(said);
    }

    std::string TakeSaid()
    {
        std::string text = said.str();
        said.str(std::string());
        return text;
    }

private:
    std::unique_ptr<Recognizer> m_recognizer;
    std::optional<ModelIdentity> m_loaded;
    bool m_prepared = false;
    std::optional<LibraryMessages> m_relay;
};

// Lines the call produced go to the "velmora" logger: the library's own
// complaints as warnings, the tool code's notes as info.
void LogSaid(const std::string& text)
{
    if (text.empty())
        return;
    const py::object logger = py::module_::import("logging").attr("getLogger")("velmora");
    std::istringstream lines(text);
    const std::string libraryPrefix = "velmora: library says: ";
    const std::string toolPrefix = "velmora: ";
    for (std::string line; std::getline(lines, line);) {
        if (line.empty())
            continue;
        if (line.rfind(libraryPrefix, 0) == 0)
            logger.attr("warning")(line.substr(libraryPrefix.size()));
        else
            logger.attr("info")(line.rfind(toolPrefix, 0) == 0 ? line.substr(toolPrefix.size()) : line);
    }
}

// Runs f(library) without the GIL and with the library to itself; then logs
// what was said and hands back the result or the exception.
template <class F>
auto Serialised(F&& f)
{
    using Result = decltype(f(std::declval<Library&>()));
    Library& library = Library::Get();
    std::optional<Result> result;
    std::exception_ptr failure;
    std::string said;
    {
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(library.mutex);
        try {
            result.emplace(f(library));
        } catch (...) {
            failure = std::current_exception();
        }
        said = library.TakeSaid();
    }
    LogSaid(said);
    if (failure)
        std::rethrow_exception(failure);
    return std::move(*result);
}

// ---------------------------------------------------------------- images and eyes

std::string TypeName(const py::handle& object)
{
    return py::str(py::type::handle_of(object).attr("__name__"));
}

GreyImage ToGrey(const py::handle& object)
{
    if (!py::isinstance<py::array>(object))
        throw WrongType("an image must be a NumPy array, not " + TypeName(object));
    const auto array = py::reinterpret_borrow<py::array>(object);
    if (array.dtype().kind() != 'u' || array.dtype().itemsize() != 1)
        throw WrongType("an image must have dtype uint8, not " + std::string(py::str(array.dtype())));
    const bool grey = array.ndim() == 2;
    if (!grey && !(array.ndim() == 3 && array.shape(2) == 3)) {
        std::string shape;
        for (py::ssize_t i = 0; i < array.ndim(); ++i)
            shape += (i ? ", " : "") + std::to_string(array.shape(i));
        throw CliError(kExitUsage, "an image must have shape (H, W) for grey or (H, W, 3) for BGR, not (" + shape +
                                       ")");
    }
    const py::ssize_t height = array.shape(0), width = array.shape(1);
    if (height < 1 || width < 1)
        throw CliError(kExitUsage, "the image is empty");
    if (height > INT_MAX / width)
        throw CliError(kExitUsage, "the image is too large (at most 2^31 pixels)");
    // Strided views (a crop, a channel flip) are copied into rows without padding.
    const auto rows = py::array_t<uint8_t, py::array::c_style>::ensure(array);
    if (!rows)
        throw py::error_already_set();
    const int channels = grey ? 1 : 3;
    return GreyFromPixels(rows.data(), static_cast<int>(width), static_cast<int>(height), channels,
                          static_cast<size_t>(width) * channels);
}

py::array_t<uint8_t> ToArray(const GreyImage& image)
{
    py::array_t<uint8_t> array({image.height, image.width});
    std::memcpy(array.mutable_data(), image.pixels.data(), image.pixels.size());
    return array;
}

struct Face {
    EyePair eyes;
    std::optional<std::array<int, 4>> box; // x, y, width, height; none for a face made from eyes
};

Face ToFace(const FoundFace& f)
{
    return Face{f.eyes, std::array<int, 4>{f.x, f.y, f.width, f.height}};
}

py::tuple Point(int x, int y)
{
    return py::make_tuple(x, y);
}

int ToInt(const py::handle& value)
{
    if (!py::isinstance<py::int_>(value) && !py::hasattr(value, "__index__"))
        throw WrongType("eye coordinates must be integers, not " + TypeName(value));
    // Within +-2^30, so that the distance between two eyes still fits an int.
    const py::int_ number(py::reinterpret_borrow<py::object>(value));
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (overflow != 0 || v <= -(1ll << 30) || v >= (1ll << 30))
        throw CliError(kExitUsage, "eye coordinate " + py::str(static_cast<const py::handle&>(number)).cast<std::string>() + " is out of range (|x| < 2^30)");
    return static_cast<int>(v);
}

// A Face, (lx, ly, rx, ry) or ((lx, ly), (rx, ry)).
EyePair ToEyes(const py::handle& object)
{
    if (py::isinstance<Face>(object))
        return object.cast<const Face&>().eyes;
    if (!py::isinstance<py::sequence>(object) || py::isinstance<py::str>(object))
        throw WrongType("eyes must be a velmora.Face or (lx, ly, rx, ry), not " + TypeName(object));
    const auto s = py::reinterpret_borrow<py::sequence>(object);
    if (s.size() == 4)
        return {ToInt(s[0]), ToInt(s[1]), ToInt(s[2]), ToInt(s[3])};
    if (s.size() == 2 && py::len(s[0]) == 2 && py::len(s[1]) == 2) {
        const auto l = py::reinterpret_borrow<py::sequence>(s[0]), r = py::reinterpret_borrow<py::sequence>(s[1]);
        return {ToInt(l[0]), ToInt(l[1]), ToInt(r[0]), ToInt(r[1])};
    }
    throw CliError(kExitUsage, "eyes must be (lx, ly, rx, ry) or ((lx, ly), (rx, ry))");
}

std::optional<EyePair> OptionalEyes(const py::object& eyes)
{
    return eyes.is_none() ? std::nullopt : std::optional<EyePair>(ToEyes(eyes));
}

CompareMode ToMode(const std::string& mode)
{
    if (mode == "max")
        return CompareMode::Max;
    if (mode == "mean")
        return CompareMode::Mean;
    if (mode == "line")
        return CompareMode::Line;
    throw CliError(kExitUsage, "mode must be 'max', 'mean' or 'line', not '" + mode + "'");
}

// ---------------------------------------------------------------- templates

struct Template {
    TemplateBuffer bytes;

    int32_t Count() const { return ReadInt32LE(bytes.data()); }
    int32_t Dimension() const { return ReadInt32LE(bytes.data() + 4); }
};

Template TemplateFromBytes(const py::buffer& data)
{
    const py::buffer_info info = data.request();
    if (info.ndim != 1 || info.itemsize != 1 || info.strides[0] != 1)
        throw WrongType("a template comes from bytes (a contiguous byte buffer)");
    const auto* p = static_cast<const unsigned char*>(info.ptr);
    Template t{TemplateBuffer(p, p + info.size)};
    if (!LooksLikeTemplate(t.bytes))
        throw CliError(kExitUsage, "these " + std::to_string(info.size) +
                                       " bytes are not a template (an 8-byte header of count and dimension, "
                                       "then count x dimension doubles)");
    return t;
}

py::array_t<double> Vectors(const Template& t)
{
    py::array_t<double> vectors({t.Count(), t.Dimension()});
    double* out = vectors.mutable_data();
    const size_t n = static_cast<size_t>(t.Count()) * static_cast<size_t>(t.Dimension());
    for (size_t i = 0; i < n; ++i)
        out[i] = ReadDoubleLE(t.bytes.data() + 8 + 8 * i);
    return vectors;
}

double Score(const TemplateBuffer& a, const TemplateBuffer& b, CompareMode mode)
{
    const double score =
        velmora::engine::CompareTemplates(a.data(), a.size(), b.data(), b.size(), static_cast<int>(mode));
    if (score < 0.0)
        throw CliError(kExitUsage, "the templates differ in dimension (made with different models?)");
    return score;
}

// ---------------------------------------------------------------- the model

class Model {
public:
    explicit Model(const std::optional<Path>& path)
    {
        Serialised([&](Library& library) {
            m_path = ResolveModelPath(path ? path->string() : std::string());
            m_identity = IdentifyModel(m_path);
            m_calibration = ReadCalibration(m_path);
            // Loaded now, so that a damaged file fails here rather than at the first photo.
            return &library.WithModel(m_path, m_identity);
        });
    }

    const std::string& path() const { return m_path; }
    const ModelIdentity& identity() const { return m_identity; }
    std::optional<double> threshold(const std::string& mode) const
    {
        ToMode(mode); // refuses an unknown mode
        return m_calibration ? std::optional<double>(m_calibration->ThresholdFor(mode)) : std::nullopt;
    }

    // The caller holds the library.
    TemplateBuffer Make(Library& library, GreyImage& image, const std::optional<EyePair>& eyes,
                        const std::string& what) const
    {
        Recognizer& r = library.WithModel(m_path, m_identity);
        return r.MakeTemplate(image, EyesOrFirstFace(r, image, eyes, what));
    }

    // The same for many images, made in batches; what(i) names image i.
    std::vector<TemplateBuffer> MakeAll(Library& library, std::vector<GreyImage>& images,
                                        const std::optional<EyePair>& eyes,
                                        const std::function<std::string(size_t)>& what) const
    {
        Recognizer& r = library.WithModel(m_path, m_identity);
        TemplateBatch batch(r);
        for (size_t i = 0; i < images.size(); ++i)
            batch.Add(images[i], EyesOrFirstFace(r, images[i], eyes, what(i)));
        return std::move(batch.Templates());
    }

    Template MakeOne(const py::handle& image, const py::object& eyes) const
    {
        GreyImage grey = ToGrey(image);
        const std::optional<EyePair> given = OptionalEyes(eyes);
        return Serialised([&](Library& library) { return Template{Make(library, grey, given, "the image")}; });
    }

    std::vector<Template> MakeMany(const py::iterable& images, const py::object& eyes) const
    {
        std::vector<GreyImage> greys;
        for (const py::handle image : images)
            greys.push_back(ToGrey(image));
        const std::optional<EyePair> given = OptionalEyes(eyes);
        return Serialised([&](Library& library) {
            std::vector<Template> made;
            for (TemplateBuffer& t :
                 MakeAll(library, greys, given, [](size_t i) { return "image " + std::to_string(i); }))
                made.push_back({std::move(t)});
            return made;
        });
    }

    // A Template as it is, an image through this model.
    TemplateBuffer TemplateOf(const py::handle& item) const
    {
        if (py::isinstance<Template>(item))
            return item.cast<const Template&>().bytes;
        return MakeOne(item, py::none()).bytes;
    }

    double Compare(const py::handle& a, const py::handle& b, const std::string& mode) const
    {
        const CompareMode m = ToMode(mode);
        const TemplateBuffer ta = TemplateOf(a), tb = TemplateOf(b);
        return Serialised([&](Library&) { return Score(ta, tb, m); });
    }

    bool SamePerson(const py::handle& a, const py::handle& b, const std::string& mode) const
    {
        if (!m_calibration)
            throw CliError(kExitModel, "the model has no calibrated threshold (" + CalibrationPathFor(m_path) +
                                           "); compare the score with a threshold of your own");
        return Compare(a, b, mode) >= m_calibration->ThresholdFor(mode);
    }

private:
    std::string m_path;
    ModelIdentity m_identity;
    std::optional<Calibration> m_calibration;
};

// ---------------------------------------------------------------- the gallery

class PyGallery {
public:
    PyGallery(const Path& path, std::shared_ptr<Model> model, bool create) : m_model(std::move(model))
    {
        if (!m_model)
            m_model = std::make_shared<Model>(std::nullopt);
        m_gallery = Serialised([&](Library&) {
            auto g = std::make_unique<Gallery>(path.string(), create ? Gallery::Access::Create : Gallery::Access::Write);
            g->RequireModel(m_model->identity());
            return g;
        });
    }

    int32_t Enrol(const std::string& name, const py::object& items, const py::object& eyes)
    {
        std::vector<py::object> list;
        if (py::isinstance<py::array>(items) || py::isinstance<Template>(items))
            list.push_back(items);
        else if (py::isinstance<py::iterable>(items))
            for (const py::handle item : items)
                list.push_back(py::reinterpret_borrow<py::object>(item));
        else
            throw WrongType("enroll takes an image, a Template or a list of them, not " + TypeName(items));
        if (list.empty())
            throw CliError(kExitUsage, "nothing to enrol for " + name);
        // Templates as they are; photos are read now, while the GIL is held.
        std::vector<std::optional<TemplateBuffer>> given;
        std::vector<GreyImage> photos;
        std::vector<size_t> photoItems; // the item number of each photo
        for (const py::object& item : list) {
            if (py::isinstance<Template>(item)) {
                given.emplace_back(item.cast<const Template&>().bytes);
            } else {
                photoItems.push_back(given.size());
                given.emplace_back();
                photos.push_back(ToGrey(item));
            }
        }
        const std::optional<EyePair> fixedEyes = OptionalEyes(eyes);
        return Serialised([&](Library& library) {
            Gallery& gallery = Open();
            std::vector<TemplateBuffer> made;
            if (!photos.empty())
                made = m_model->MakeAll(library, photos, fixedEyes, [&](size_t p) {
                    return "photo " + std::to_string(photoItems[p]) + " of " + name;
                });
            std::vector<TemplateBuffer> parts;
            size_t photo = 0;
            for (size_t i = 0; i < given.size(); ++i)
                parts.push_back(given[i] ? *given[i] : std::move(made[photo++]));
            const TemplateBuffer joined = parts.size() == 1 ? parts[0] : JoinTemplates(parts);
            return gallery.Enrol({{name, joined}}, m_model->identity()).at(0).vectors;
        });
    }

    std::vector<std::pair<std::string, double>> Identify(const py::handle& probe, int top, const std::string& mode)
    {
        if (top < 1)
            throw CliError(kExitUsage, "top must be 1 or more");
        const CompareMode m = ToMode(mode);
        const TemplateBuffer p = m_model->TemplateOf(probe);
        return Serialised([&](Library&) {
            const Gallery& gallery = Open();
            std::vector<std::pair<std::string, double>> best;
            for (const Candidate& c : RankPeople(p, gallery.People(true), m)) {
                if (best.size() == static_cast<size_t>(top))
                    break;
                best.emplace_back(c.name, c.score);
            }
            return best;
        });
    }

    void Remove(const std::string& name)
    {
        Serialised([&](Library&) {
            Open().Remove({name});
            return true;
        });
    }

    std::vector<std::string> Names()
    {
        return Serialised([&](Library&) {
            std::vector<std::string> names;
            for (const GalleryPerson& p : Open().People(false))
                names.push_back(p.name);
            return names;
        });
    }

    std::optional<Template> Get(const std::string& name)
    {
        return Serialised([&](Library&) {
            for (GalleryPerson& p : Open().People(true))
                if (p.name == name)
                    return std::optional<Template>(Template{std::move(p.templ)});
            return std::optional<Template>();
        });
    }

    void Close()
    {
        Serialised([this](Library&) {
            m_gallery.reset();
            return true;
        });
    }

    std::shared_ptr<Model> model() const { return m_model; }
    bool closed() const { return !m_gallery; }

private:
    Gallery& Open()
    {
        if (!m_gallery)
            throw CliError(kExitGallery, "the gallery is closed");
        return *m_gallery;
    }

    std::shared_ptr<Model> m_model;
    std::unique_ptr<Gallery> m_gallery;
};

// ---------------------------------------------------------------- training

// Runs a tool command and returns its --json report as a dict.
template <class Options>
py::dict RunToolCommand(int (*run)(const Options&, const CommandContext&), const Options& options)
{
    const std::string report = Serialised([&](Library& library) {
        std::ostringstream out;
        const CommandContext context{out, library.said, true, false};
        try {
            run(options, context);
        } catch (...) {
            library.AfterToolCommand();
            throw;
        }
        library.AfterToolCommand();
        return out.str();
    });
    return py::module_::import("json").attr("loads")(report).cast<py::dict>();
}

// ---------------------------------------------------------------- errors

py::object MakeError(py::module_& m, const char* name, const char* doc, std::vector<py::handle> bases)
{
    const std::string qualified = std::string("velmora.") + name;
    py::tuple baseTuple(bases.size());
    for (size_t i = 0; i < bases.size(); ++i)
        baseTuple[i] = py::reinterpret_borrow<py::object>(bases[i]);
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, baseTuple.ptr(), nullptr);
    if (type == nullptr)
        throw py::error_already_set();
    py::object error = py::reinterpret_steal<py::object>(type);
    m.attr(name) = error;
    return error;
}

} // namespace

PYBIND11_MODULE(velmora, m)
{
    m.doc() = R"(Velmora face recognition.

Images are NumPy uint8 arrays, grey (H, W) or BGR colour (H, W, 3) as OpenCV
gives them; colour becomes grey with OpenCV's luma weights. Faces, templates,
models and galleries are those of the velmora command-line tool: a template
saved here is a template file for the tool, and both use the same gallery files.

    import velmora
    model = velmora.Model()                      # the default model ($VELMORA_MODEL first)
    a = model.template(velmora.load_image("a.jpg"))
    b = model.template(velmora.load_image("b.jpg"))
    print(model.compare(a, b), model.same_person(a, b))

Errors are exceptions derived from velmora.Error. Library messages go to the
"velmora" logger. Calls release the GIL; calls from several threads take turns,
as the library keeps one model and one detector per process.)";
    m.attr("__version__") = VELMORA_VERSION;

    // ---- errors
    const py::object error = MakeError(m, "Error", "Base of every error velmora raises.", {PyExc_Exception});
    const py::object noFace =
        MakeError(m, "NoFaceError", "No face was found in an image that needs one.", {error});
    const py::object modelError =
        MakeError(m, "ModelError", "The model is missing, cannot be loaded, or has no calibrated threshold.", {error});
    const py::object fileError =
        MakeError(m, "FileError", "A file is missing, unreadable, unwritable or not of the expected kind.",
                  {error, PyExc_OSError});
    const py::object galleryError = MakeError(
        m, "GalleryError", "The gallery is damaged, not a gallery, busy, closed, or built with another model.",
        {error});
    const py::object notEnrolled =
        MakeError(m, "NotEnrolledError", "The person is not enrolled in the gallery.", {galleryError, PyExc_KeyError});
    const py::object invalidType =
        MakeError(m, "InvalidTypeError", "An argument has the wrong type (an image that is not a uint8 array, ...).",
                  {error, PyExc_TypeError});
    const py::object invalidValue = MakeError(
        m, "InvalidValueError", "An argument has a wrong value (image shape, eyes, mode, template bytes, ...).",
        {error, PyExc_ValueError});

    // Handles stay alive with the module's attributes; the translator keeps raw pointers.
    static PyObject* byCode[8] = {};
    byCode[kExitFailure] = error.ptr();
    byCode[kExitUsage] = invalidValue.ptr();
    byCode[kExitInput] = fileError.ptr();
    byCode[kExitNoFace] = noFace.ptr();
    byCode[kExitModel] = modelError.ptr();
    byCode[kExitGallery] = galleryError.ptr();
    byCode[kExitNotEnrolled] = notEnrolled.ptr();
    static PyObject* typeError = invalidType.ptr();
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const CliError& e) {
            const int code = e.code();
            PyErr_SetString(code > 0 && code < 8 && byCode[code] ? byCode[code] : byCode[kExitFailure], e.what());
        } catch (const WrongType& e) {
            PyErr_SetString(typeError, e.what());
        } catch (const py::builtin_exception&) {
            throw;
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            PyErr_SetString(byCode[kExitFailure], e.what());
        }
    });

    // ---- faces
    py::class_<Face>(m, "Face",
                     "A face found in an image: its box and its two eye centres, the image's left eye first.")
        .def(py::init([](const std::pair<long long, long long>& left, const std::pair<long long, long long>& right) {
                 return Face{ToEyes(py::make_tuple(left.first, left.second, right.first, right.second)), std::nullopt};
             }),
             py::arg("left_eye"), py::arg("right_eye"), "A face with the given eye centres, each (x, y), and no box.")
        .def_property_readonly(
            "box",
            [](const Face& f) -> py::object {
                if (!f.box)
                    return py::none();
                return py::make_tuple((*f.box)[0], (*f.box)[1], (*f.box)[2], (*f.box)[3]);
            },
            "(x, y, width, height) of the detector's face box (it may reach outside the image), "
            "or None for a face made from eye centres.")
        .def_property_readonly("left_eye", [](const Face& f) { return Point(f.eyes.leftX, f.eyes.leftY); },
                               "(x, y) of the eye on the image's left.")
        .def_property_readonly("right_eye", [](const Face& f) { return Point(f.eyes.rightX, f.eyes.rightY); },
                               "(x, y) of the eye on the image's right.")
        .def_property_readonly(
            "eyes", [](const Face& f) { return py::make_tuple(f.eyes.leftX, f.eyes.leftY, f.eyes.rightX, f.eyes.rightY); },
            "(lx, ly, rx, ry), as the tool's --eyes option takes them.")
        .def("__eq__",
             [](const Face& a, const py::object& b) {
                 if (!py::isinstance<Face>(b))
                     return false;
                 const EyePair& x = a.eyes;
                 const EyePair& y = b.cast<const Face&>().eyes;
                 return x.leftX == y.leftX && x.leftY == y.leftY && x.rightX == y.rightX && x.rightY == y.rightY;
             })
        .def("__repr__", [](const Face& f) {
            return "velmora.Face(left_eye=(" + std::to_string(f.eyes.leftX) + ", " + std::to_string(f.eyes.leftY) +
                   "), right_eye=(" + std::to_string(f.eyes.rightX) + ", " + std::to_string(f.eyes.rightY) + "))";
        });

    m.def(
        "load_image",
        [](const Path& path) {
            return ToArray(Serialised([&](Library&) { return LoadGreyImage(path.string()); }));
        },
        py::arg("path"),
        "Reads a JPEG, PNG, BMP or PGM file as a grey (H, W) uint8 array, exactly as the tool reads it.\n"
        "(A JPEG decoded straight to grey differs in a few pixels from its colour pixels converted.)");

    m.def(
        "find_faces",
        [](const ImageArg& image) {
            GreyImage grey = ToGrey(image.object);
            const std::vector<FoundFace> found =
                Serialised([&](Library& library) { return library.Tool().DetectFaces(grey); });
            std::vector<Face> faces;
            for (const FoundFace& f : found)
                faces.push_back(ToFace(f));
            return faces;
        },
        py::arg("image"), "Every face found (at most 10), larger faces first; an empty list when there is none.");

    m.def(
        "find_face",
        [](const ImageArg& image) {
            GreyImage grey = ToGrey(image.object);
            const std::vector<FoundFace> found =
                Serialised([&](Library& library) { return library.Tool().DetectFaces(grey, 1); });
            return found.empty() ? std::nullopt : std::optional<Face>(ToFace(found.front()));
        },
        py::arg("image"), "The first (largest) face found, or None.");

    m.def(
        "cut",
        [](const ImageArg& image, const EyesArg& eyes) {
            GreyImage grey = ToGrey(image.object);
            const EyePair e = ToEyes(eyes.object);
            return ToArray(Serialised([&](Library& library) { return library.ForCutting().NormFace(grey, e); }));
        },
        py::arg("image"), py::arg("eyes"),
        "The 64 x 64 normalised face (eyes levelled at (17, 13) and (45, 13), grey levels normalised),\n"
        "as a uint8 array. eyes: a Face, (lx, ly, rx, ry) or ((lx, ly), (rx, ry)).");

    m.def(
        "cut_display",
        [](const ImageArg& image, const EyesArg& eyes, int width) {
            if (width < 1 || width > 4096)
                throw CliError(kExitUsage, "width must be 1 to 4096 pixels, not " + std::to_string(width));
            GreyImage grey = ToGrey(image.object);
            const EyePair e = ToEyes(eyes.object);
            return ToArray(
                Serialised([&](Library& library) { return library.ForCutting().DisplayFace(grey, e, width); }));
        },
        py::arg("image"), py::arg("eyes"), py::arg("width"),
        "A larger face for display, width pixels wide (1..4096), eyes levelled.");

    // ---- templates
    py::class_<Template>(m, "Template",
                         "A face template: one or more vectors (one per photo), in the library's template format.")
        .def_static("from_bytes", &TemplateFromBytes, py::arg("data"),
                    "A template from its bytes (as bytes(t) gives them, or a template file of the tool holds).")
        .def_static(
            "load",
            [](const Path& path) {
                return Template{Serialised([&](Library&) { return ReadTemplateFile(path.string()); })};
            },
            py::arg("path"), "Reads a template file, as `velmora template` writes them.")
        .def(
            "save",
            [](const Template& t, const Path& path) {
                Serialised([&](Library&) {
                    WriteTemplateFile(path.string(), t.bytes);
                    return true;
                });
            },
            py::arg("path"), "Writes the template file (its bytes), which the tool reads.")
        .def_static(
            "merge",
            [](const std::vector<Template>& parts) {
                std::vector<TemplateBuffer> buffers;
                for (const Template& t : parts)
                    buffers.push_back(t.bytes);
                return Template{JoinTemplates(buffers)};
            },
            py::arg("templates"), "One template holding every vector of the given ones, in order (one person's photos).")
        .def_property_readonly("vectors", &Vectors, "The vectors as a new (count, dimension) float64 array.")
        .def_property_readonly("dimension", &Template::Dimension, "Values per vector (200 for a trained model).")
        .def("__len__", &Template::Count, "The number of vectors.")
        .def("__bytes__",
             [](const Template& t) {
                 return py::bytes(reinterpret_cast<const char*>(t.bytes.data()), t.bytes.size());
             })
        .def("__eq__",
             [](const Template& a, const py::object& b) {
                 return py::isinstance<Template>(b) && a.bytes == b.cast<const Template&>().bytes;
             })
        .def("__repr__",
             [](const Template& t) {
                 return "<velmora.Template: " + std::to_string(t.Count()) + (t.Count() == 1 ? " vector" : " vectors") +
                        " of " + std::to_string(t.Dimension()) + " values>";
             })
        .def(py::pickle([](const Template& t) { return py::bytes(reinterpret_cast<const char*>(t.bytes.data()), t.bytes.size()); },
                        [](const py::bytes& b) { return TemplateFromBytes(b); }));

    m.def(
        "compare",
        [](const Template& a, const Template& b, const std::string& mode) {
            const CompareMode m = ToMode(mode);
            return Serialised([&](Library&) { return Score(a.bytes, b.bytes, m); });
        },
        py::arg("a"), py::arg("b"), py::arg("mode") = "mean",
        "The similarity of two templates, 0..1 (no model needed). mode: 'mean' (against the mean vector),\n"
        "'max' (best pair of vectors) or 'line' (nearest feature line).");

    // ---- model
    py::class_<Model, std::shared_ptr<Model>>(
        m, "Model",
        "A trained model: turns faces into templates and judges same or different at its calibrated threshold.\n"
        "Only one model is in the library's memory at a time; using two Model objects in turn reloads them.")
        .def(py::init<const std::optional<Path>&>(), py::arg("path") = py::none(),
             "Loads the model file; without a path, the tool's default model: $VELMORA_MODEL when set (and only\n"
             "that), else the installed share/velmora/velmora.model, else the source tree's.")
        .def_property_readonly("path", &Model::path, "The model file.")
        .def_property_readonly(
            "threshold", [](const Model& model) { return model.threshold("mean"); },
            "The calibrated same-person threshold of mode 'mean' (the default) from MODEL.json, or None.")
        .def("threshold_for", &Model::threshold, py::arg("mode"),
             "The calibrated threshold of a comparison mode ('max', 'mean' or 'line'), or None.")
        .def_property_readonly(
            "hash", [](const Model& model) { return model.identity().hash; },
            "The hash that galleries record to recognise the model.")
        .def(
            "template",
            [](const Model& model, const ImageArg& image, const OptionalEyesArg& eyes) {
                return model.MakeOne(image.object, eyes.object);
            }, py::arg("image"), py::arg("eyes") = py::none(),
             "A Template of the face at the given eyes, else of the first face found: six vectors,\n"
             "as the tool's templates (the face and its mirror image, each also cut with the eyes a\n"
             "pixel further apart and a pixel closer)\n"
             "(NoFaceError when there is none).")
        .def(
            "templates",
            [](const Model& model, const py::iterable& images, const OptionalEyesArg& eyes) {
                return model.MakeMany(images, eyes.object);
            }, py::arg("images"), py::arg("eyes") = py::none(),
             "A Template per image, made in one call (NoFaceError names the first image without a face).")
        .def(
            "compare",
            [](const Model& model, const ProbeArg& a, const ProbeArg& b, const std::string& mode) {
                return model.Compare(a.object, b.object, mode);
            }, py::arg("a"), py::arg("b"), py::arg("mode") = "mean",
             "The similarity, 0..1, of two Templates or images (an image gives the template of its first face).")
        .def(
            "same_person",
            [](const Model& model, const ProbeArg& a, const ProbeArg& b, const std::string& mode) {
                return model.SamePerson(a.object, b.object, mode);
            }, py::arg("a"), py::arg("b"), py::arg("mode") = "mean",
             "True when compare(a, b) reaches the calibrated threshold (ModelError when there is none).")
        .def("__repr__", [](const Model& model) { return "velmora.Model('" + model.path() + "')"; });

    // ---- gallery
    py::class_<PyGallery>(
        m, "Gallery",
        "A gallery file of enrolled people, the same SQLite file that `velmora enroll/identify` use.\n"
        "Each change is one transaction; other processes may use the file at the same time.")
        .def(py::init<const Path&, std::shared_ptr<Model>, bool>(), py::arg("path"),
             py::arg("model") = py::none(), py::arg("create") = true,
             "Opens the gallery (create: makes it when missing). model: the Model that makes its templates\n"
             "(default: Model()); a gallery built with another model raises GalleryError.")
        .def(
            "enroll",
            [](PyGallery& gallery, const std::string& name, const ItemsArg& items, const OptionalEyesArg& eyes) {
                return gallery.Enrol(name, items.object, eyes.object);
            }, py::arg("name"), py::arg("items"), py::arg("eyes") = py::none(),
             "Adds a vector per image or template vector to the person (new when unknown), in one\n"
             "transaction; returns the person's vector count. items: an image, a Template, or a list of them.")
        .def(
            "identify",
            [](PyGallery& gallery, const ProbeArg& probe, int top, const std::string& mode) {
                return gallery.Identify(probe.object, top, mode);
            }, py::arg("probe"), py::arg("top") = 5, py::arg("mode") = "line",
             "The best matching people as (name, score) pairs, best first (at most top). probe: image or Template.\n"
             "Compare the first score with model.threshold_for(mode) to answer 'unknown'.")
        .def("remove", &PyGallery::Remove, py::arg("name"), "Removes the person (NotEnrolledError when unknown).")
        .def("names", &PyGallery::Names, "The names of the enrolled people, sorted.")
        .def("template", &PyGallery::Get, py::arg("name"), "The person's Template, or None when not enrolled.")
        .def("__len__", [](PyGallery& g) { return g.Names().size(); })
        .def("__contains__", [](PyGallery& g, const std::string& name) { return g.Get(name).has_value(); })
        .def_property_readonly("model", &PyGallery::model, "The Model the gallery's templates are made with.")
        .def_property_readonly("closed", &PyGallery::closed)
        .def("close", &PyGallery::Close, "Closes the file; later calls raise GalleryError.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](PyGallery& g, const py::args&) {
            g.Close();
            return false;
        });

    // ---- training
    m.def(
        "train",
        [](const Path& samples, const Path& output, const std::string& recipe, const std::optional<Path>& exclude,
           const std::optional<Path>& faces, int refitDim) {
            if (recipe != "train" && recipe != "refit")
                throw CliError(kExitUsage, "recipe must be 'train' or 'refit', not '" + recipe + "'");
            TrainOptions options;
            options.samples = samples.string();
            options.output = output.string();
            options.recipe = recipe == "refit" ? TrainRecipe::Refit : TrainRecipe::Train;
            options.excludeList = exclude ? exclude->string() : "";
            options.faces = faces ? faces->string() : "";
            options.refitDim = refitDim;
            return RunToolCommand(&RunTrain, options);
        },
        py::arg("samples"), py::arg("output"), py::arg("recipe") = "refit", py::arg("exclude") = py::none(),
        py::arg("faces") = py::none(), py::arg("refit_dim") = 0,
        "`velmora train SAMPLES -o OUTPUT --recipe RECIPE`: trains a model (at least 210 people) on a sample\n"
        "file of `velmora samples` and writes it; returns the tool's JSON report as a dict.");

    m.def(
        "increase",
        [](const Path& dataset, const Path& output, const std::optional<Path>& model, const std::optional<Path>& stats,
           int dim, const std::optional<Path>& exclude, int minImages, int maxPerPerson) {
            IncreaseOptions options;
            options.dataset = dataset.string();
            options.output = output.string();
            options.model = model ? model->string() : "";
            options.stats = stats ? stats->string() : "";
            options.dim = dim;
            options.excludeList = exclude ? exclude->string() : "";
            options.minImages = minImages;
            options.maxPerPerson = maxPerPerson;
            return RunToolCommand(&RunIncrease, options);
        },
        py::arg("dataset"), py::arg("output"), py::arg("model") = py::none(), py::arg("stats") = py::none(),
        py::arg("dim") = 0, py::arg("exclude") = py::none(), py::arg("min_images") = 1, py::arg("max_per_person") = 0,
        "`velmora increase DATASET -o OUTPUT`: retrains the discriminant stage of the model (the default\n"
        "model when None) with new people (a folder per person, or a face file) and earlier statistics\n"
        "(stats, from `velmora stats`); returns the tool's JSON report as a dict.");
}
