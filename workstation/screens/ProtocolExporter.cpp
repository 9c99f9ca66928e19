#include "ProtocolExporter.h"

#include "WorkstationContext.h"

namespace arm {

ProtocolExporter::ProtocolExporter(WorkstationContext& context, QObject* parent)
    : QObject(parent), context_(context) {}

void ProtocolExporter::exportProtocol() {}

}  // namespace arm
