#pragma once

#include <QString>
#include <optional>

// Where the command line talks to its user: result lines on standard output, errors and progress
// on standard error, secrets from the terminal without echo (or one line of standard input).
class Console {
public:
    virtual ~Console() = default;

    virtual void out(const QString& line) = 0;
    virtual void err(const QString& line) = 0;
    // Standard error is a terminal: progress (a spinner, a line rewritten in place) is shown there.
    virtual bool terminal() const = 0;
    // Rewrites the progress line in place; an empty text clears it. Only used on a terminal.
    virtual void progress(const QString& text) = 0;
    // A secret: prompted for without echo on a terminal, else one line of standard input (its
    // line end dropped). Nothing at end of input or when interrupted.
    virtual std::optional<QString> secret(const QString& prompt) = 0;
    // A desktop session is there to open links in.
    virtual bool hasDesktop() const = 0;
};

// The process's own standard streams.
class ProcessConsole final : public Console {
public:
    ProcessConsole();

    void out(const QString& line) override;
    void err(const QString& line) override;
    bool terminal() const override { return m_errTerminal; }
    void progress(const QString& text) override;
    std::optional<QString> secret(const QString& prompt) override;
    bool hasDesktop() const override;

private:
    void clearProgress();

    bool m_errTerminal = false;
    bool m_progressShown = false;
};
