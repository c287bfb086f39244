// Pages of the HTML document model behind the COM document doubles.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "bho/testing/browser_doubles.h"
#include "html/html_document.h"

namespace glintmark::bho::testing {

struct Page {
  std::unique_ptr<html::HtmlDocument> model;
  ComPtr<IDispatch> com;  // IHTMLDocument2 over the model

  // The body's markup as the model serialises it, without the body tags.
  std::string body() const {
    std::string markup = model->serialize(model->body());
    const auto open = markup.find('>');
    const auto close = markup.rfind("</");
    return markup.substr(open + 1, close - open - 1);
  }
};

// makePage: a page with the given markup (the body's content or a whole
// page), address and referrer.
inline Page makePage(std::string_view markup, std::u16string url, std::u16string referrer = {}) {
  Page page;
  page.model = html::parseSimpleHtml(markup);
  page.model->setUrl(std::move(url));
  page.model->setReferrer(std::move(referrer));
  page.com.attach(static_cast<IHTMLDocument2*>(new DocumentDouble(page.model->document())));
  return page;
}

}  // namespace glintmark::bho::testing
