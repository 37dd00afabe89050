#include "Orvane/DialogSupport.h"

#include <QDialog>
#include <QFile>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "Platform/Platform.h"

namespace DialogSupport {

namespace {

// The text between leading and trailing blanks (space, tab).
std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// from_chars refuses a leading '+'; accept one (but not "+-").
std::string_view SkipPlus(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+')
        return text.substr(1);
    return text;
}

}  // namespace

std::string EnterIntegerBetween(int nMin, int nMax) {
    std::string text = "Please enter an integer between ";
    text.append(std::to_string(nMin)).append(" and ").append(std::to_string(nMax)).append(".");
    return text;
}

std::string FormatReal(double dValue) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", dValue);
    const auto back = ParseReal(buffer);
    if (!back || *back != dValue) std::snprintf(buffer, sizeof buffer, "%.17g", dValue);
    return buffer;
}

std::optional<double> ParseReal(const std::string& text) {
    const std::string_view body = SkipPlus(TrimBlanks(text));
    if (body.empty()) return std::nullopt;
    double dValue = 0.0;
    const auto [end, ec] =
        std::from_chars(body.data(), body.data() + body.size(), dValue, std::chars_format::general);
    if (ec != std::errc() || end != body.data() + body.size() || !std::isfinite(dValue))
        return std::nullopt;
    return dValue;
}

std::optional<int> ParseInt(const std::string& text) {
    const std::string_view body = SkipPlus(TrimBlanks(text));
    if (body.empty()) return std::nullopt;
    int nValue = 0;
    const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), nValue, 10);
    if (ec != std::errc() || end != body.data() + body.size()) return std::nullopt;
    return nValue;
}

std::string QtFileFilter(const std::string& filter) {
    // Split at '|'; a trailing '|' ends the list.
    std::vector<std::string> parts;
    std::string current;
    for (char c : filter) {
        if (c == '|') {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(current);

    std::string result;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::string description = parts[i];
        // The pattern list in parentheses at the end of the description is the
        // one Qt matches with, so it is replaced by the entry's real patterns.
        const auto open = description.rfind('(');
        if (open != std::string::npos && description.back() == ')')
            description = std::string(TrimBlanks(description.substr(0, open)));
        std::string patterns;
        std::string_view rest = parts[i + 1];
        while (!rest.empty()) {
            const auto semi = rest.find(';');
            std::string pattern(TrimBlanks(rest.substr(0, semi)));
            if (pattern == "*.*") pattern.assign(1, '*');
            if (!pattern.empty()) {
                if (!patterns.empty()) patterns += ' ';
                patterns += pattern;
            }
            rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
        }
        if (patterns.empty()) patterns.push_back('*');
        if (!result.empty()) result += ";;";
        result.append(description).append(" (").append(patterns).append(")");
    }
    return result;
}

QSize DialogUnitsToPixels(const QWidget* pWidget, int nWidth, int nHeight) {
    const QFontMetrics metrics(pWidget->font());
    static const QString alphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int baseX = (metrics.horizontalAdvance(alphabet) + 26) / 52;
    const int baseY = metrics.height();
    return QSize((nWidth * baseX + 2) / 4, (nHeight * baseY + 4) / 8);
}

void CDataExchange::Fail(QLineEdit* pEdit, const std::string& text) {
    m_bFailed = true;
    Platform::ShowMessage(text, Platform::MessageKind::Plain);
    pEdit->setFocus(Qt::OtherFocusReason);
    pEdit->selectAll();
}

void CDataExchange::Text(QLineEdit* pEdit, std::string& strValue) {
    if (m_bFailed) return;
    if (m_bSaveAndValidate)
        strValue = QFile::encodeName(pEdit->text()).toStdString();
    else
        pEdit->setText(QFile::decodeName(QByteArray::fromStdString(strValue)));
}

void CDataExchange::Text(QLineEdit* pEdit, double& dValue) {
    if (m_bFailed) return;
    if (!m_bSaveAndValidate) {
        pEdit->setText(QString::fromStdString(FormatReal(dValue)));
        return;
    }
    const auto parsed = ParseReal(pEdit->text().toStdString());
    if (!parsed) {
        Fail(pEdit, kEnterNumber);
        return;
    }
    dValue = *parsed;
}

void CDataExchange::Text(QLineEdit* pEdit, int& nValue) {
    if (m_bFailed) return;
    if (!m_bSaveAndValidate) {
        pEdit->setText(QString::number(nValue));
        return;
    }
    const auto parsed = ParseInt(pEdit->text().toStdString());
    if (!parsed) {
        Fail(pEdit, kEnterInteger);
        return;
    }
    nValue = *parsed;
}

void CDataExchange::MinMaxInt(QLineEdit* pEdit, int nValue, int nMin, int nMax) {
    if (m_bFailed || !m_bSaveAndValidate) return;
    if (nValue < nMin || nValue > nMax) Fail(pEdit, EnterIntegerBetween(nMin, nMax));
}

CColorSwatch::CColorSwatch(std::function<RGBColor()> source, QWidget* pParent)
    : QFrame(pParent), m_source(std::move(source)) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setCursor(Qt::PointingHandCursor);
}

void CColorSwatch::paintEvent(QPaintEvent* pEvent) {
    {
        QPainter painter(this);
        const RGBColor color = m_source();
        painter.fillRect(contentsRect(), QColor(color.r, color.g, color.b));
    }
    QFrame::paintEvent(pEvent);
}

void CColorSwatch::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton) {
        m_bPressed = true;
        pEvent->accept();
        return;
    }
    QFrame::mousePressEvent(pEvent);
}

void CColorSwatch::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton && m_bPressed) {
        m_bPressed = false;
        pEvent->accept();
        if (rect().contains(pEvent->position().toPoint()) && m_onClicked) m_onClicked();
        return;
    }
    QFrame::mouseReleaseEvent(pEvent);
}

void LayOutWithOkCancel(QDialog* pDialog, QLayout* pFields, int gapUnits, ButtonOrder order) {
    const QSize buttonSize = DialogUnitsToPixels(pDialog, 50, 14);
    auto* pOk = new QPushButton(QStringLiteral("OK"), pDialog);
    pOk->setObjectName(QStringLiteral("1"));
    pOk->setDefault(true);
    pOk->setMinimumSize(buttonSize);
    auto* pCancel = new QPushButton(QStringLiteral("Cancel"), pDialog);
    pCancel->setObjectName(QStringLiteral("2"));
    pCancel->setAutoDefault(false);
    pCancel->setMinimumSize(buttonSize);
    QObject::connect(pOk, &QPushButton::clicked, pDialog, &QDialog::accept);
    QObject::connect(pCancel, &QPushButton::clicked, pDialog, &QDialog::reject);

    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch(1);
    if (order == ButtonOrder::OkThenCancel) {
        pButtons->addWidget(pOk);
        pButtons->addStretch(2);
        pButtons->addWidget(pCancel);
    } else {
        pButtons->addWidget(pCancel);
        pButtons->addStretch(1);
        pButtons->addWidget(pOk);
    }
    pButtons->addStretch(1);

    auto* pMain = new QVBoxLayout(pDialog);
    pMain->addLayout(pFields);
    pMain->addSpacing(DialogUnitsToPixels(pDialog, 0, gapUnits).height());
    pMain->addLayout(pButtons);
    pMain->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace DialogSupport
