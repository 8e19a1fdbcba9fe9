#include "qt/qt_socket_factory.h"

#include "qt/qt_datagram_socket.h"
#include "qt/qt_stream_socket.h"

namespace vandry {

std::unique_ptr<DatagramSocket> QtSocketFactory::createDatagramSocket()
{
    return std::make_unique<QtDatagramSocket>();
}

std::unique_ptr<StreamSocket> QtSocketFactory::createStreamSocket()
{
    return std::make_unique<QtStreamSocket>();
}

std::unique_ptr<StreamListener> QtSocketFactory::createStreamListener()
{
    return std::make_unique<QtStreamListener>();
}

} // namespace vandry
