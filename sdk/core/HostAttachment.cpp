#include "HostAttachment.h"

bool HostAttachment::isBootstrapped()
{
    return false;
}
