#include "snippets/template_engine.hpp"

#include <pybind11/embed.h>

#include <atomic>
#include <boost/json/value.hpp>
#include <chrono>
#include <filesystem>

#include "base/logging/log.hpp"

namespace snippets {
namespace py = pybind11;
namespace {

// Compiled templates are kept by their source text: compiling costs far more than rendering,
// and the same text always gives the same template, so edits on disk take effect at once.
constexpr int kCompiledTemplatesKept = 64;

std::atomic<bool> engine_started{false};

// Debian's interpreter and Debian's packages whatever the PATH holds and whatever PYTHONHOME,
// PYTHONPATH or a user site folder say: the isolated configuration ignores the environment,
// and the module path is set outright below the prefix of the python3 the library was built
// against (no `site`, which would add /usr/local and cost start time). No signal handlers (the
// server has its own) and no bytecode written into system folders.
void start_interpreter() {
    const std::filesystem::path executable = NUVEX_PYTHON_EXECUTABLE;
    const std::filesystem::path home = executable.parent_path().parent_path();
    const std::string version =
        std::to_string(PY_MAJOR_VERSION) + "." + std::to_string(PY_MINOR_VERSION);
    const std::filesystem::path module_folders[] = {
        home / "lib" / ("python" + version),
        home / "lib" / ("python" + version) / "lib-dynload",
        home / "lib" / "python3" / "dist-packages",
    };

    PyConfig config;
    PyConfig_InitIsolatedConfig(&config);
    config.write_bytecode = 0;
    config.site_import = 0;
    config.module_search_paths_set = 1;
    PyStatus status = PyConfig_SetBytesString(&config, &config.program_name, executable.c_str());
    if (!PyStatus_Exception(status)) {
        status = PyConfig_SetBytesString(&config, &config.home, home.c_str());
    }
    for (const auto& folder : module_folders) {
        if (!PyStatus_Exception(status)) {
            status = PyWideStringList_Append(&config.module_search_paths, folder.wstring().c_str());
        }
    }
    if (PyStatus_Exception(status)) {
        PyConfig_Clear(&config);
        throw TemplateEngineError(std::string("cannot configure Python: ") +
                                  (status.err_msg ? status.err_msg : "out of memory"));
    }
    try {
        py::initialize_interpreter(&config, 0, nullptr, false);  // clears config
    } catch (const std::exception& error) {
        throw TemplateEngineError("cannot start Python from " + home.string() + ": " +
                                  error.what());
    }
    // Every render takes the interpreter lock for itself, on whichever thread it runs.
    PyEval_SaveThread();
}

void ensure_interpreter() {
    // A start that failed is tried again by the next render.
    static const bool started = (start_interpreter(), true);
    (void)started;
}

std::string describe(const py::error_already_set& error) {
    return py::str(error.type().attr("__name__")).cast<std::string>() + ": " +
           py::str(error.value()).cast<std::string>();
}

// Objects that live until the process ends: they are never released, so nothing touches
// Python after the interpreter's owner has gone.
struct Jinja2 {
    py::object compile;  // source text -> jinja2.Template, remembered
};

Jinja2* load_jinja2() {
    py::gil_scoped_acquire lock;
    try {
        py::module_ module = py::module_::import("jinja2");
        py::object remembered = py::module_::import("functools")
                                    .attr("lru_cache")(py::arg("maxsize") = kCompiledTemplatesKept);
        auto* jinja2 = new Jinja2{remembered(module.attr("Template"))};
        logging::server_log().debug(std::string("Template engine: Python ") + Py_GetVersion() +
                                    ", Jinja2 " + module.attr("__version__").cast<std::string>() +
                                    " from " + module.attr("__file__").cast<std::string>());
        return jinja2;
    } catch (const py::error_already_set& error) {
        throw TemplateEngineError("cannot load Jinja2: " + describe(error));
    }
}

Jinja2& jinja2() {
    static Jinja2* const engine = [] {
        const auto start = std::chrono::steady_clock::now();
        ensure_interpreter();
        Jinja2* loaded = load_jinja2();
        engine_started = true;
        const auto elapsed = std::chrono::steady_clock::now() - start;
        logging::server_log().debug(
            "Template engine started in " +
            std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()) +
            " ms");
        return loaded;
    }();
    return *engine;
}

py::object to_python(const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::null:
            return py::none();
        case boost::json::kind::bool_:
            return py::bool_(value.get_bool());
        case boost::json::kind::int64:
            return py::int_(value.get_int64());
        case boost::json::kind::uint64:
            return py::int_(value.get_uint64());
        case boost::json::kind::double_:
            return py::float_(value.get_double());
        case boost::json::kind::string: {
            const auto& text = value.get_string();
            return py::str(text.data(), text.size());
        }
        case boost::json::kind::array: {
            py::list list;
            for (const auto& item : value.get_array()) list.append(to_python(item));
            return list;
        }
        case boost::json::kind::object: {
            py::dict dict;
            for (const auto& [key, item] : value.get_object()) {
                dict[py::str(key.data(), key.size())] = to_python(item);
            }
            return dict;
        }
    }
    return py::none();
}

const char* kind_name(const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::null:
            return "null";
        case boost::json::kind::bool_:
            return "a boolean";
        case boost::json::kind::array:
            return "an array";
        case boost::json::kind::string:
            return "a string";
        default:
            return "a number";
    }
}

}  // namespace

std::string render_template_source(std::string_view source, const boost::json::value& parameters) {
    if (!parameters.is_object()) {
        throw TemplateEngineError(std::string("parameters must be an object, not ") +
                                  kind_name(parameters));
    }
    Jinja2& engine = jinja2();
    py::gil_scoped_acquire lock;
    try {
        py::object compiled = engine.compile(py::str(source.data(), source.size()));
        // The variables go in as one mapping rather than as keywords, so that no parameter
        // name can clash with render()'s own argument names.
        py::object rendered = compiled.attr("render")(to_python(parameters));
        return rendered.cast<std::string>();
    } catch (const py::error_already_set& error) {
        if (error.matches(PyExc_ValueError)) {
            throw TemplateValueError(py::str(error.value()).cast<std::string>());
        }
        throw TemplateEngineError(describe(error));
    }
}

bool template_engine_started() { return engine_started; }

}  // namespace snippets
