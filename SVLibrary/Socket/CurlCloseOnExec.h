#ifndef SVLIBRARY_SOCKET_CURLCLOSEONEXEC_H
#define SVLIBRARY_SOCKET_CURLCLOSEONEXEC_H

// Header-only, for the code that drives libcurl (the engine's downloads, the platform's URL
// loading): libcurl (7.88) makes its connections with a plain socket(2) and the wake-up socket
// pair of a transfer set without close-on-exec, so a program started meanwhile (a web view's
// process) would keep a connection to the origin and the pair. Both are covered here.
//
// Not covered: its threaded resolver makes a socket pair of its own for each name it looks up
// (to wake the transfer when the answer is in), without close-on-exec and out of reach of any
// callback; a program started while a lookup runs keeps both ends. "localhost" and numeric
// addresses are answered without that thread (no pair), which is what our own servers and the
// playback URL use; any other host name is exposed for as long as its lookup lasts.

#include <curl/curl.h>
#include <sys/socket.h>

#include "SVLibrary/Socket/CloseOnExec.h"

namespace SV {

// CURLOPT_OPENSOCKETFUNCTION: the socket libcurl asks for, close-on-exec from the start.
inline curl_socket_t OpenCurlSocketCloseOnExec(void*, curlsocktype, curl_sockaddr* address) {
    const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    return fd < 0 ? CURL_SOCKET_BAD : fd;
}

// Every connection the easy handle opens is close-on-exec.
inline void OpenCurlSocketsCloseOnExec(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &OpenCurlSocketCloseOnExec);
}

// curl_multi_init, with the descriptors it opened (its wake-up pair) made close-on-exec.
inline CURLM* CurlMultiInitCloseOnExec() {
    const std::vector<int> before = OpenDescriptorNumbers();
    CURLM* multi = curl_multi_init();
    MarkOpenedSinceCloseOnExec(before);
    return multi;
}

}  // namespace SV

#endif
