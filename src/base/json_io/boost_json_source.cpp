// Boost.JSON compiled into the server rather than linked from the shared library: its parser
// and document building sit on the hot path of every request body, and built here they are
// optimised with the rest of the server and called without going through the library's
// symbol table.
#include <boost/json/src.hpp>
