#include "download/HttpSession.h"

#include "download/CurlHandles.h"

HttpSession::HttpSession() : handles(std::make_unique<Handles>()) {}

HttpSession::~HttpSession() = default;
