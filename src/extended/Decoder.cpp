#include "extended/Decoder.h"

#include "util/FixedWidth.h"

namespace korvel::ext {

namespace {

constexpr std::size_t kResultWidths[kResultCount] = {2, 2, 4, 500, 10, 1, 15, 5};

ReplyField request(Field f, ReplyField::When when = ReplyField::When::Always) {
    return {ReplyField::Into::Request, index(f), info(f).width, when};
}

ReplyField result(Result r, ReplyField::When when = ReplyField::When::Always) {
    return {ReplyField::Into::Result, static_cast<std::size_t>(r), resultWidth(r), when};
}

std::vector<ReplyLayout> buildLayouts() {
    using F = Field;
    using R = Result;
    using W = ReplyField::When;
    const ReplyField status = result(R::Status);

    std::vector<ReplyField> software = {status};
    for (std::size_t i = 0; i < kSoftwareEntries; ++i) {
        software.push_back({ReplyField::Into::Code, i, kCodeWidth});
        software.push_back({ReplyField::Into::Version, i, kVersionWidth});
    }

    return {
        {{"01"},
         {status, request(F::Operation), result(R::StatusCard), result(R::Application),
          request(F::Amount), request(F::Currency), request(F::CardInfo, W::CardInfoRequested)},
         false,
         true},
        {{"03"},
         {status, request(F::Operation), result(R::StatusCard), result(R::Receipt)},
         false,
         true},
        {{"04", "23"}, {status, result(R::Receipt, W::StatusOk)}, false, true},
        {{"10"}, {status, request(F::Operation)}, true, false},
        {{"11"},
         {status, request(F::Operation), request(F::TrackISO1), request(F::TrackISO2),
          request(F::TrackISO3), result(R::Private)},
         true,
         false},
        {{"12"}, {status, result(R::NbCharacter), result(R::String)}, false, false},
        // The terminal status replaces the two-character status: `POSAutoStatus` stays "99".
        {{"14"}, {result(R::StatusEFT)}, false, false},
        {{"15"}, software, false, false},
        {{"16", "17", "18", "19", "20", "21"}, {status}, false, false},
    };
}

}  // namespace

std::size_t resultWidth(Result r) {
    return kResultWidths[static_cast<std::size_t>(r)];
}

const std::vector<ReplyLayout>& replyLayouts() {
    static const std::vector<ReplyLayout> table = buildLayouts();
    return table;
}

const ReplyLayout* replyLayoutFor(std::string_view fct) {
    for (const ReplyLayout& l : replyLayouts())
        for (std::string_view code : l.codes)
            if (fct == code) return &l;
    return nullptr;
}

std::vector<Extracted> extractReply(const ReplyLayout& layout, const std::string& reply,
                                    std::size_t start, std::string_view control) {
    std::vector<Extracted> out;
    std::string lastStatus;
    std::size_t pos = start;
    for (const ReplyField& f : layout.fields) {
        const std::string piece = pos < reply.size() ? reply.substr(pos, f.width) : std::string();
        pos += f.width;
        std::string text = util::fitLeft(piece, f.width);
        switch (f.when) {
            case ReplyField::When::Always:
                break;
            case ReplyField::When::CardInfoRequested:
                if (control != "5" && control != "4") continue;
                break;
            case ReplyField::When::StatusOk:
                if (lastStatus != "00") text = std::string(f.width, ' ');
                break;
        }
        if (f.into == ReplyField::Into::Result &&
            f.which == static_cast<std::size_t>(Result::Status))
            lastStatus = text;
        out.push_back({f, std::move(text)});
    }
    return out;
}

}  // namespace korvel::ext
