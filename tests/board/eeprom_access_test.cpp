// The two board EEPROM readers on the simulated EEPROMs, including corrupt and random images.

#include "bringup_test_support.h"
#include "eeprom_access.h"
#include "rawcam_error.h"

#include <cctype>
#include <cerrno>
#include <random>

namespace {

using board_test::log_capture;
using board_test::shipped_board;
using board_test::text_board;
using bringup_test::board_text;
using bringup_test::chip;
using bringup_test::messages_to;
using korsa_cam::status;
using namespace korsa_cam::sensor;

constexpr int bus10 = 10;

class Eeprom : public ::testing::Test
{
protected:
    void SetUp() override { board_test::require_simulator(); }
};

std::string product_board(const std::string& keys)
{
    return board_text(chip("product-id", "type=product-eeprom\n" + keys));
}

std::string ident_board(const std::string& keys)
{
    return board_text(chip("identification", "type=id-eeprom\n" + keys));
}

TEST_F(Eeprom, ProductIdFieldsAndManufacturers)
{
    struct expect
    {
        std::string product_id;
        bool ok;
        sensor_info info;
    };
    const expect cases[] = {
        {"QEL-F-IMX290-2", true, {"QEL", "F", "IMX290", "2"}},
        {"QEL-M-IMX290-2", true, {"QEL", "M", "IMX290", "2"}},
        {"OEM-F-IMX335-1", true, {"OEM", "F", "IMX335", "1"}},
        {"QEL-F-IMX390-1-extra-fields", true, {"QEL", "F", "IMX390", "1"}},
        {"QEL--IMX296-", true, {"QEL", "", "IMX296", ""}},
        {"ABC-F-IMX335-1", false, {}},
        {"qel-F-IMX335-1", false, {}},
        {"QEL-F-IMX290", false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.product_id);
        text_board board(product_board("product_id=" + c.product_id));
        ASSERT_TRUE(board.ok());
        log_capture logs;
        auto r = read_third_party_eeprom_sensor_info(bus10);
        ASSERT_EQ(static_cast<bool>(r), c.ok);
        if (c.ok)
        {
            EXPECT_EQ(r.value().id, c.info.id);
            EXPECT_EQ(r.value().filter_type, c.info.filter_type);
            EXPECT_EQ(r.value().sensor, c.info.sensor);
            EXPECT_EQ(r.value().revision, c.info.revision);
            EXPECT_TRUE(logs.records().empty());
            continue;
        }
        EXPECT_EQ(r.error(), make_error_code(status::eeprom_data_invalid));
        const bool few = korsa_cam::sensor::parse_product_id_string(c.product_id).size() < 4;
        const std::string expected =
            few ? "Invalid product id ('" + c.product_id + "') found in third party eeprom"
                : "Invalid Manufacturer in product id ('" + c.product_id +
                      "') found in thrird party eeprom";
        EXPECT_EQ(logs.lines(), std::vector<std::string>{expected});
        EXPECT_EQ(logs.records()[0].level, spdlog::level::err);
        EXPECT_EQ(logs.records()[0].file, "src/rawcam_lib/eeprom_access");
    }
}

TEST_F(Eeprom, ProductIdEndsAtTheFirstNonPrintableByteOrAfter29)
{
    // A zero byte right after the id; whatever follows it is not part of the id.
    text_board zero(product_board("product_id=QEL-F-IMX290-1\nregisters=0x24=0x58;0x25=0x59"));
    ASSERT_TRUE(zero.ok());
    auto r = read_third_party_eeprom_sensor_info(bus10);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.value().revision, "1");

    // 29 printable bytes, and a longer text in the chip: the id is the 29 read.
    text_board full(product_board("product_id=QEL-F-IMX290-1234567890ABCDEFGHIJ"));
    ASSERT_TRUE(full.ok());
    korsa_sim_trace_clear();
    r = read_third_party_eeprom_sensor_info(bus10);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.value().revision, "1234567890ABCDEF");
    const auto m = messages_to(0x57);
    ASSERT_EQ(m.size(), 5u); // probe, marker address and read, id address and read
    EXPECT_EQ(m[3].data, std::vector<uint8_t>{0x15});
    EXPECT_EQ(m[4].requested, 29u);

    // A control character ends it early.
    text_board ctrl(product_board("product_id=QEL-F-IMX290-1\nregisters=0x1E=0x07"));
    ASSERT_TRUE(ctrl.ok());
    r = read_third_party_eeprom_sensor_info(bus10);
    ASSERT_FALSE(r); // "QEL-F-IMX" has three fields
    EXPECT_EQ(r.error(), make_error_code(status::eeprom_data_invalid));

    EXPECT_EQ(parse_product_id_string("a--b"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(parse_product_id_string("a-"), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(parse_product_id_string(""), std::vector<std::string>{""});
}

TEST_F(Eeprom, MarkerAndMissingChip)
{
    text_board wrong(product_board("product_id=QEL-F-IMX290-1\nmarker=0xCB"));
    ASSERT_TRUE(wrong.ok());
    korsa_sim_trace_clear();
    auto r = read_third_party_eeprom_sensor_info(bus10);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), make_error_code(status::eeprom_data_invalid));
    EXPECT_EQ(messages_to(0x57).size(), 3u); // the product id is not read

    // A failing marker read is thrown with the bus error.
    text_board good(product_board("product_id=QEL-F-IMX290-1"));
    ASSERT_TRUE(good.ok());
    korsa_sim_fail_nth(3, EIO); // probe, marker address, marker read
    try
    {
        (void)read_third_party_eeprom_sensor_info(bus10);
        ADD_FAILURE() << "a failed marker read must throw";
    }
    catch (const std::system_error& e)
    {
        EXPECT_EQ(e.code(), std::error_code(EIO, std::generic_category()));
    }
    // A failing product-id read is returned.
    korsa_sim_fail_nth(5, EIO);
    r = read_third_party_eeprom_sensor_info(bus10);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::error_code(EIO, std::generic_category()));

    text_board none(board_text(""));
    ASSERT_TRUE(none.ok());
    const int open_before = korsa_sim_open_i2c_count();
    EXPECT_EQ(read_third_party_eeprom_sensor_info(bus10).error(),
              make_error_code(status::i2c_device_not_found));
    EXPECT_EQ(read_qel_eeprom_info(bus10).error(), make_error_code(status::i2c_device_not_found));
    EXPECT_EQ(korsa_sim_open_i2c_count(), open_before);
    EXPECT_THROW((void)read_qel_eeprom_info(3), std::system_error);
}

TEST_F(Eeprom, IdentificationFieldsAndValidation)
{
    {
        text_board board(ident_board("version=1\nserial=40110000\nname=IMX290 Camera\nextra=x"));
        ASSERT_TRUE(board.ok());
        korsa_sim_trace_clear();
        auto r = read_qel_eeprom_info(bus10);
        ASSERT_TRUE(r);
        EXPECT_EQ(r.value().version, 1);
        EXPECT_EQ(r.value().serial, "40110000");
        EXPECT_EQ(r.value().name, "IMX290 Camera");
        EXPECT_EQ(r.value().extra, "x");
        // 88 single-byte reads, each behind its own 16-bit address.
        const auto m = messages_to(0x50);
        ASSERT_EQ(m.size(), 1u + 2u * 88u);
        EXPECT_EQ(m[1].data, (std::vector<uint8_t>{0x00, 0x00}));
        EXPECT_EQ(m[175].data, (std::vector<uint8_t>{0x00, 0x57}));
        EXPECT_EQ(m[176].requested, 1u);
    }
    {
        // Fields that fill their bytes have no terminating zero.
        text_board board(ident_board(
            "version=1\nserial=0123456789ABCDEF\nname=ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"));
        ASSERT_TRUE(board.ok());
        auto r = read_qel_eeprom_info(bus10);
        ASSERT_TRUE(r);
        EXPECT_EQ(r.value().serial, "0123456789ABCDEF");
        EXPECT_EQ(r.value().name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
        EXPECT_EQ(r.value().extra, "");
    }
    for (const auto& [keys, text] : std::vector<std::pair<std::string, std::string>>{
             {"version=2\nserial=40110000", "Invalid data in eeprom ver=2 serial[0]=0x34"},
             {"version=1\nregisters=8=0x80", "Invalid data in eeprom ver=1 serial[0]=0x80"},
             {"version=0xFF\nregisters=8=0xFF", "Invalid data in eeprom ver=255 serial[0]=0xff"}})
    {
        SCOPED_TRACE(keys);
        text_board board(ident_board(keys));
        ASSERT_TRUE(board.ok());
        log_capture logs;
        auto r = read_qel_eeprom_info(bus10);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error(), make_error_code(status::eeprom_data_invalid));
        ASSERT_EQ(logs.lines(), std::vector<std::string>{text});
        EXPECT_EQ(logs.records()[0].function, "read_qel_eeprom_struct");
    }
    {
        // The first failing read ends the loop with its error.
        text_board board(ident_board("version=1\nserial=1"));
        ASSERT_TRUE(board.ok());
        korsa_sim_trace_clear();
        korsa_sim_fail_nth(1 + 2 * 10 + 2, EIO); // the read of byte 10
        auto r = read_qel_eeprom_info(bus10);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error(), std::error_code(EIO, std::generic_category()));
        EXPECT_EQ(messages_to(0x50).size(), 1u + 2u * 11u);
    }
}

// Random and structured garbage in both EEPROMs: a clean status or fields that keep every
// promise of the layout, never more bytes than the chip holds.
TEST_F(Eeprom, CorruptAndRandomImages)
{
    text_board board(board_text(chip("product-id", "type=product-eeprom\nsize=64") +
                                chip("identification", "type=id-eeprom\nsize=88")));
    ASSERT_TRUE(board.ok());
    std::mt19937 rng(20241208);
    auto byte = [&] { return static_cast<uint8_t>(rng() & 0xFF); };
    const std::string alphabet = "QELOMF-IMX290AR0234-\x7f\x01 ";
    constexpr int iterations = 1500;
    int product_ok = 0;
    int ident_ok = 0;
    for (int i = 0; i < iterations; ++i)
    {
        SCOPED_TRACE(i);
        korsa_sim_reset();
        std::vector<uint8_t> product(64);
        std::vector<uint8_t> ident(88);
        switch (i % 6)
        {
        case 0: // random
            for (auto& b : product)
                b = byte();
            for (auto& b : ident)
                b = byte();
            break;
        case 1: // erased
            std::fill(product.begin(), product.end(), 0xFF);
            std::fill(ident.begin(), ident.end(), 0xFF);
            break;
        case 2: // blank
            break;
        default: // plausible layout with random text and random terminators
            for (auto& b : product)
                b = static_cast<uint8_t>(alphabet[rng() % alphabet.size()]);
            product[0x14] = (rng() % 4) != 0 ? 0xCC : byte();
            if (rng() % 2 != 0)
            {
                const std::string id = "QEL-F-IMX290-";
                std::copy(id.begin(), id.end(), product.begin() + 0x15);
            }
            for (auto& b : ident)
                b = (rng() % 8) == 0 ? 0 : static_cast<uint8_t>(0x20 + rng() % 0x7F);
            ident[0] = (rng() % 4) != 0 ? 1 : byte();
            break;
        }
        korsa_sim_reg_write(bus10, 0x57, 0, product.data(), product.size());
        korsa_sim_reg_write(bus10, 0x50, 0, ident.data(), ident.size());
        log_capture quiet;
        const auto p = read_third_party_eeprom_sensor_info(bus10);
        if (p)
        {
            ++product_ok;
            const auto& v = p.value();
            const std::size_t len =
                v.id.size() + v.filter_type.size() + v.sensor.size() + v.revision.size() + 3;
            EXPECT_LE(len, 29u);
            EXPECT_TRUE(v.id == "QEL" || v.id == "OEM");
            for (const auto& f : {v.filter_type, v.sensor, v.revision})
            {
                for (char c : f)
                {
                    EXPECT_TRUE(std::isprint(static_cast<unsigned char>(c)) != 0 && c != '-');
                }
            }
            EXPECT_EQ(product[0x14], 0xCC);
        }
        else
        {
            EXPECT_EQ(p.error(), make_error_code(status::eeprom_data_invalid));
        }
        const auto q = read_qel_eeprom_info(bus10);
        if (q)
        {
            ++ident_ok;
            EXPECT_EQ(q.value().version, 1);
            EXPECT_LE(q.value().serial.size(), 16u);
            EXPECT_LE(q.value().name.size(), 32u);
            EXPECT_LE(q.value().extra.size(), 32u);
            EXPECT_EQ(q.value().serial.find('\0'), std::string::npos);
            EXPECT_LT(ident[8], 0x80);
        }
        else
        {
            EXPECT_EQ(q.error(), make_error_code(status::eeprom_data_invalid));
        }
    }
    // The generator reaches the accepting paths, not only the rejections.
    EXPECT_GT(product_ok, iterations / 20);
    EXPECT_GT(ident_ok, iterations / 20);
}

} // namespace
