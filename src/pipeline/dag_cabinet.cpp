#include "pipeline/dag_cabinet.hpp"

namespace pipeline {

DagCabinet dag_cabinet;

}  // namespace pipeline
