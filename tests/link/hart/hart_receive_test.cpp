// The two receivers and the decoding of answers into a THartDev record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "hart/hart_internal.h"
#include "hart/hart_master.h"
#include "hart_test_util.h"
#include "quarn/cp1251.h"

using hart_test::Answer;
using hart_test::appendFloat;
using hart_test::bytes;
using hart_test::frame;
using hart_test::validRecord;

namespace {

int32_t deform(const std::vector<uint8_t>& b, THartDev* dev) {
  return Hart_DeForm(b.data(), static_cast<uint32_t>(b.size()), dev);
}

// The device data of a record: everything after the receive fields.
std::vector<uint8_t> deviceData(const THartDev& dev) {
  const auto* p = reinterpret_cast<const uint8_t*>(&dev);
  const size_t from = offsetof(THartDev, expandedDeviceType);
  const size_t head = offsetof(THartDev, rxState);  // size, found, address, names
  std::vector<uint8_t> out(sizeof dev - from + head);
  std::memcpy(out.data(), p + from, sizeof dev - from);
  std::memcpy(out.data() + (sizeof dev - from), p, head);
  return out;
}

std::vector<uint8_t> command0Rev5(uint8_t hw = 0xA9) {
  return bytes({254, 0x26, 0x06, 5, 5, 3, 2, hw, 0x01, 0x12, 0x34, 0x56});
}

std::vector<uint8_t> command0Rev7() {
  auto d = bytes({254, 0x26, 0x06, 5, 7, 3, 2, 0xA9, 0x01, 0x12, 0x34, 0x56});
  const auto rest = bytes({8, 4, 0x01, 0x07, 0x02, 0x00, 0x26, 0x12, 0x34, 0x01});
  d.insert(d.end(), rest.begin(), rest.end());
  return d;
}

TEST(HartDeForm, DecodesAfterNoiseAndRefusesABadChecksum) {
  Answer a;
  a.command = 0;
  a.longAddress = false;
  a.address[0] = 0x80;
  a.preambles = 3;
  a.data = command0Rev5();
  auto buf = bytes({0x13, 0x00, 0x7E});
  const auto f = frame(a);
  buf.insert(buf.end(), f.begin(), f.end());

  THartDev dev = validRecord();
  ASSERT_EQ(deform(buf, &dev), 0);
  EXPECT_EQ(+dev.rxDelimiter, 0x06);
  EXPECT_EQ(+dev.rxShortAddress, 0);
  EXPECT_EQ(+dev.expandedDeviceType, 0x2606);
  EXPECT_EQ(+dev.deviceId, 0x123456u);

  buf.back() ^= 0x01;
  THartDev fresh = validRecord();
  EXPECT_EQ(deform(buf, &fresh), -1);
  EXPECT_EQ(+fresh.expandedDeviceType, 0);
  EXPECT_EQ(+fresh.deviceId, 0u);
  EXPECT_EQ(+fresh.rxDataLength, 0);
  EXPECT_EQ(deviceData(fresh), deviceData(validRecord()));
}

TEST(HartDeForm, FramingErrors) {
  Answer ok;
  ok.command = 1;
  ok.data = bytes({12, 0x40, 0x80, 0, 0});
  const auto good = frame(ok);

  auto truncatedAddress = bytes({0xFF, 0xFF, 0x86, 1, 2, 3});
  auto byteCountOne = bytes({0xFF, 0xFF, 0x06, 0x80, 1, 1, 0, 0x06 ^ 0x80 ^ 1 ^ 1});
  auto tooFewData = good;
  tooFewData.resize(good.size() - 3);  // checksum and two data bytes missing
  Answer big;
  big.command = 1;
  big.data.assign(81, 0x11);  // one byte more than rxData holds
  auto tooLong = frame(big);

  struct Case {
    const char* name;
    std::vector<uint8_t> buf;
    uint32_t count;
    int32_t result;
  };
  const Case cases[] = {
      {"empty", {}, 0, -1},
      {"no 0xFF at all", bytes({0x86, 0x26, 0x06, 1, 2, 3, 1, 7, 0, 0}), 10, -1},
      {"only preamble", bytes({0x00, 0xFF, 0xFF, 0xFF}), 4, -1},
      {"truncated long address", truncatedAddress, static_cast<uint32_t>(truncatedAddress.size()), -1},
      {"byte count 1", byteCountOne, static_cast<uint32_t>(byteCountOne.size()), -2},
      {"data missing", tooFewData, static_cast<uint32_t>(tooFewData.size()), -2},
      {"data longer than rxData", tooLong, static_cast<uint32_t>(tooLong.size()), -2},
      {"count taken as one byte", good, 256, -1},
      {"count taken as one byte, remainder parsed", good, 256 + static_cast<uint32_t>(good.size()), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    THartDev dev = validRecord();
    // Parse from a heap copy of exactly the given size so a read past the end is caught by ASan.
    std::vector<uint8_t> exact(c.buf.begin(), c.buf.end());
    if (exact.empty()) exact.push_back(0xFF);
    EXPECT_EQ(Hart_DeForm(exact.data(), c.count, &dev), c.result);
    if (c.result != 0) {
      EXPECT_EQ(+dev.dynVar[0].value, 0.0f);
      EXPECT_EQ(+dev.rxDataLength, 0);
    }
  }
  THartDev dev = validRecord();
  EXPECT_EQ(deform(bytes({0xFF, 0xFF}), &dev), -1);
  EXPECT_EQ(+dev.rxDelimiter, 0xFF);
  EXPECT_EQ(Hart_DeForm(nullptr, 10, &dev), -1);
  EXPECT_EQ(Hart_DeForm(good.data(), static_cast<uint32_t>(good.size()), nullptr), -1);
  dev.size = 0;
  EXPECT_EQ(deform(good, &dev), HART_ERR_RECORD);
}

TEST(HartDecode, Command0Revision5LeavesRevision7FieldsZero) {
  THartDev dev = validRecord();
  Answer a;
  a.data = command0Rev5();
  ASSERT_EQ(deform(frame(a), &dev), 0);
  EXPECT_EQ(+dev.expandedDeviceType, 0x2606);
  EXPECT_EQ(+dev.requestPreambles, 5);
  EXPECT_EQ(+dev.hartRevision, 5);
  EXPECT_EQ(+dev.deviceRevision, 3);
  EXPECT_EQ(+dev.softwareRevision, 2);
  EXPECT_EQ(+dev.hardwareRevision, 21);
  EXPECT_EQ(+dev.physicalSignaling, 1);
  EXPECT_EQ(+dev.deviceFlags, 1);
  EXPECT_EQ(+dev.deviceId, 0x123456u);
  EXPECT_EQ(std::vector<uint8_t>(+dev.longAddress, +dev.longAddress + 5),
            bytes({0xA6, 0x06, 0x12, 0x34, 0x56}));
  EXPECT_STREQ(dev.manufacturerName, "Rosemount");
  EXPECT_STREQ(dev.deviceTypeName, GetDescription(0x2606));
  EXPECT_EQ(+dev.responsePreambles, 0);
  EXPECT_EQ(+dev.maxDeviceVariables, 0);
  EXPECT_EQ(+dev.configChangeCounter, 0);
  EXPECT_EQ(+dev.extendedStatus, 0);
  EXPECT_EQ(+dev.manufacturerId, 0);
  EXPECT_EQ(+dev.privateLabelId, 0);
  EXPECT_EQ(+dev.deviceProfile, 0);
  EXPECT_EQ(+dev.variableCount, 0u);
}

TEST(HartDecode, Command0Revision7FillsTheLongAnswer) {
  THartDev dev = validRecord();
  Answer a;
  a.data = command0Rev7();
  ASSERT_EQ(deform(frame(a), &dev), 0);
  EXPECT_EQ(+dev.hartRevision, 7);
  EXPECT_EQ(+dev.responsePreambles, 8);
  EXPECT_EQ(+dev.maxDeviceVariables, 4);
  EXPECT_EQ(+dev.variableCount, 4u);
  EXPECT_EQ(+dev.configChangeCounter, 0x0107);
  EXPECT_EQ(+dev.extendedStatus, 2);
  EXPECT_EQ(+dev.manufacturerId, 0x0026);
  EXPECT_EQ(+dev.privateLabelId, 0x1234);
  EXPECT_EQ(+dev.deviceProfile, 1);

  // A revision 5 device answering with a long frame keeps the revision 7 fields as they were.
  THartDev rev5 = validRecord();
  a.data = command0Rev7();
  a.data[4] = 6;
  ASSERT_EQ(deform(frame(a), &rev5), 0);
  EXPECT_EQ(+rev5.privateLabelId, 0);
}

TEST(HartDecode, Command0Revision7FieldsNeedTheirLastByte) {
  // 21 data bytes end before the device profile: nothing of the revision 7 block is taken, and no
  // byte is read from beyond the answer.
  THartDev dev = validRecord();
  Answer a;
  a.data = command0Rev7();
  a.data.resize(21);
  ASSERT_EQ(deform(frame(a), &dev), 0);
  EXPECT_EQ(+dev.deviceId, 0x123456u);
  EXPECT_EQ(+dev.responsePreambles, 0);
  EXPECT_EQ(+dev.maxDeviceVariables, 0);
  EXPECT_EQ(+dev.variableCount, 0u);
  EXPECT_EQ(+dev.privateLabelId, 0);
  EXPECT_EQ(+dev.deviceProfile, 0);
}

TEST(HartDecode, Command0KeepsTheDeviceTypeAndAddressesWithoutTheBurstBit) {
  THartDev dev = validRecord();
  Answer a;
  a.data = command0Rev5();
  a.data[1] = 0x45;  // bit 6 set in the high byte of the expanded device type
  a.data[2] = 0x01;
  ASSERT_EQ(deform(frame(a), &dev), 0);
  EXPECT_EQ(+dev.expandedDeviceType, 0x4501);
  EXPECT_EQ(std::vector<uint8_t>(+dev.longAddress, +dev.longAddress + 5),
            bytes({0x85, 0x01, 0x12, 0x34, 0x56}));
}

TEST(HartDecode, Command0WithoutMarkerOrUnknownType) {
  THartDev dev = validRecord();
  Answer a;
  a.data = command0Rev5();
  ASSERT_EQ(deform(frame(a), &dev), 0);

  a.data[0] = 253;
  a.data[2] = 0x07;
  EXPECT_EQ(deform(frame(a), &dev), -2);
  EXPECT_EQ(+dev.expandedDeviceType, 0x2606);  // unchanged

  a.data = command0Rev5();
  a.data[1] = 0x7E;
  a.data[2] = 0xEE;
  ASSERT_EQ(deform(frame(a), &dev), 0);
  EXPECT_STREQ(dev.deviceTypeName, "n/a");
  EXPECT_STREQ(dev.manufacturerName, "n/a");
}

std::vector<uint8_t> command3(int variables) {
  std::vector<uint8_t> d;
  appendFloat(d, 12.5f);
  const uint8_t units[5] = {12, 32, 57, 39, 7};
  for (int k = 0; k < variables; ++k) {
    d.push_back(units[k]);
    appendFloat(d, 10.0f * (k + 1));
  }
  return d;
}

TEST(HartDecode, Command3MarksTheVariablesCarried) {
  struct Case {
    size_t dataBytes;
    uint32_t variableCount;
    int present;
  };
  // Fewer than 9 data bytes hold the loop current but no whole variable: none is counted.
  const Case cases[] = {{9, 1, 1}, {14, 2, 2}, {24, 4, 4}, {29, 6, 4}, {4, 0, 0}, {6, 0, 0}, {8, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dataBytes);
    THartDev dev = validRecord();
    for (auto& v : dev.dynVar) v.present = 1;
    Answer a;
    a.command = 3;
    a.data = command3(5);
    a.data.resize(c.dataBytes);
    ASSERT_EQ(deform(frame(a), &dev), 0);
    EXPECT_EQ(+dev.variableCount, c.variableCount);
    EXPECT_EQ(+dev.loopCurrent, 12.5f);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(+dev.dynVar[k].present, k < c.present ? 1u : 0u) << k;
      if (k < c.present) {
        EXPECT_EQ(+dev.dynVar[k].value, 10.0f * (k + 1));
      }
    }
    if (c.present > 0) {
      EXPECT_STREQ(dev.dynVar[0].unitsText, CP1251("кПа"));
    }
    if (c.present > 3) {
      EXPECT_STREQ(dev.dynVar[3].unitsText, "milliamperes");
    }
  }
}

TEST(HartDecode, Command13TagDescriptorDate) {
  THartDev dev = validRecord();
  Answer a;
  a.command = 13;
  a.data.resize(21);
  ASSERT_EQ(StringToHART("PT-101  ", a.data.data()), 6);
  ASSERT_EQ(StringToHART("LINE 4 PRESSURE ", a.data.data() + 6), 12);
  a.data[18] = 31;
  a.data[19] = 12;
  a.data[20] = 110;
  ASSERT_EQ(deform(frame(a), &dev), 0);
  EXPECT_EQ(std::string(+dev.tag, 8), "PT-101  ");
  EXPECT_EQ(std::string(+dev.descriptor, 16), "LINE 4 PRESSURE ");
  EXPECT_EQ(+dev.dateDay, 31);
  EXPECT_EQ(+dev.dateMonth, 12);
  EXPECT_EQ(+dev.dateYear, 2010);
  EXPECT_EQ(+dev.deviceTypeName[0], 0);  // the tag does not run into neighbouring fields
}

TEST(HartDecode, Commands14And15) {
  THartDev dev = validRecord();
  dev.dynVar[0].units = 12;
  Answer a;
  a.command = 14;
  a.data = bytes({0x01, 0x02, 0x03, 7});
  appendFloat(a.data, 16.0f);
  appendFloat(a.data, -1.0f);
  appendFloat(a.data, 0.16f);
  ASSERT_EQ(deform(frame(a), &dev), 0);
  EXPECT_EQ(+dev.sensorSerial, 0x010203u);
  EXPECT_EQ(+dev.sensorUnits, 7);
  EXPECT_EQ(+dev.upperSensorLimit, 16.0f);
  EXPECT_EQ(+dev.lowerSensorLimit, -1.0f);
  EXPECT_EQ(+dev.minSpan, 0.16f);

  a.command = 15;
  a.data = bytes({1, 0, 237});
  appendFloat(a.data, 2.5f);
  appendFloat(a.data, 0.0f);
  appendFloat(a.data, 0.4f);
  a.data.push_back(251);
  a.data.push_back(250);
  ASSERT_EQ(deform(frame(a), &dev), 0);
  EXPECT_EQ(+dev.alarmSelection, 1);
  EXPECT_EQ(+dev.transferFunction, 0);
  EXPECT_EQ(+dev.rangeUnits, 237);
  EXPECT_EQ(+dev.upperRange, 2.5f);
  EXPECT_EQ(+dev.lowerRange, 0.0f);
  EXPECT_EQ(+dev.damping, 0.4f);
  EXPECT_EQ(+dev.writeProtect, 251);
  EXPECT_EQ(+dev.labelCode, 250);
  EXPECT_STREQ(dev.dynVar[0].unitsText, CP1251("МПа"));
  EXPECT_EQ(+dev.dynVar[0].units, 12);  // the variable's own code is not changed
}

TEST(HartDecode, ShortAnswers) {
  std::vector<uint8_t> f4;
  appendFloat(f4, 4.0f);
  std::vector<uint8_t> f20;
  appendFloat(f20, 20.0f);
  auto cat = [](std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  struct Case {
    uint8_t command;
    std::vector<uint8_t> data;
    std::function<void(const THartDev&)> check;
  };
  const Case cases[] = {
      {1, cat({bytes({6}), f20}),
       [](const THartDev& d) {
         EXPECT_EQ(+d.dynVar[0].units, 6);
         EXPECT_STREQ(d.dynVar[0].unitsText, CP1251("фунт/кв.дюйм"));
         EXPECT_EQ(+d.dynVar[0].value, 20.0f);
       }},
      {1, cat({bytes({250}), f4}), [](const THartDev& d) { EXPECT_STREQ(d.dynVar[0].unitsText, ""); }},
      {2, cat({f4, f20}),
       [](const THartDev& d) {
         EXPECT_EQ(+d.loopCurrent, 4.0f);
         EXPECT_EQ(+d.percentOfRange, 20.0f);
       }},
      {6, bytes({3, 1}),
       [](const THartDev& d) {
         EXPECT_EQ(+d.pollingAddress, 3);
         EXPECT_EQ(+d.loopCurrentMode, 1);
       }},
      {7, bytes({0, 1}), [](const THartDev& d) { EXPECT_EQ(+d.pollingAddress, 0); }},
      {8, bytes({65, 64, 0, 84}),
       [](const THartDev& d) {
         EXPECT_EQ(std::vector<uint8_t>(+d.classification, +d.classification + 4), bytes({65, 64, 0, 84}));
       }},
      {34, f20, [](const THartDev& d) { EXPECT_EQ(+d.damping, 20.0f); }},
      {35, cat({bytes({11}), f20, f4}),
       [](const THartDev& d) {
         EXPECT_EQ(+d.rangeUnits, 11);
         EXPECT_EQ(+d.upperRange, 20.0f);
         EXPECT_EQ(+d.lowerRange, 4.0f);
       }},
      {40, f4, [](const THartDev& d) { EXPECT_EQ(+d.loopCurrent, 4.0f); }},
      {44, bytes({7}),
       [](const THartDev& d) {
         EXPECT_EQ(+d.rangeUnits, 7);
         EXPECT_EQ(+d.dynVar[0].units, 7);
       }},
      {45, f4, [](const THartDev& d) { EXPECT_EQ(+d.loopCurrent, 4.0f); }},
      {46, f20, [](const THartDev& d) { EXPECT_EQ(+d.loopCurrent, 20.0f); }},
      {47, bytes({1}), [](const THartDev& d) { EXPECT_EQ(+d.transferFunction, 1); }},
      {122, cat({f4, f20}),
       [](const THartDev& d) {
         EXPECT_EQ(+d.calibValueA, 4.0f);
         EXPECT_EQ(+d.calibValueB, 20.0f);
       }},
      {128, cat({bytes({3, 9}), f20, f4}),
       [](const THartDev& d) {
         EXPECT_EQ(+d.outputType, 3);
         EXPECT_EQ(+d.outputParam, 9);
         EXPECT_EQ(+d.outputValueA, 20.0f);
         EXPECT_EQ(+d.outputValueB, 4.0f);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.command));
    THartDev dev = validRecord();
    Answer a;
    a.command = c.command;
    a.data = c.data;
    ASSERT_EQ(deform(frame(a), &dev), 0);
    EXPECT_EQ(+dev.responseText, nullptr);
    c.check(dev);
  }
}

TEST(HartDecode, CommandsWithoutHandlerStoreNoDeviceData) {
  for (uint8_t command : {4, 5, 9, 38, 48, 82, 129, 200, 255}) {
    THartDev dev = validRecord();
    const auto before = deviceData(dev);
    Answer a;
    a.command = command;
    a.data =
        bytes({254, 0x26, 0x06, 5, 7, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20});
    EXPECT_EQ(deform(frame(a), &dev), 0) << static_cast<int>(command);
    EXPECT_EQ(deviceData(dev), before) << static_cast<int>(command);
  }
}

TEST(HartDecode, TrimAnswers) {
  THartDev dev = validRecord();
  Answer a;
  a.command = 80;
  a.data = bytes({2, 12});
  appendFloat(a.data, 0.0f);
  appendFloat(a.data, 100.0f);
  ASSERT_EQ(deform(frame(a), &dev), 0);
  EXPECT_EQ(+dev.dynVar[2].trimUnits, 12);
  EXPECT_EQ(+dev.dynVar[2].upperTrimPoint, 100.0f);

  a.command = 81;
  a.data = bytes({0, 3, 12});
  for (float f : {-1.0f, 1.0f, 90.0f, 110.0f, 5.0f}) appendFloat(a.data, f);
  ASSERT_EQ(deform(frame(a), &dev), 0);
  EXPECT_EQ(+dev.dynVar[0].lowerTrimSupported, 1u);
  EXPECT_EQ(+dev.dynVar[0].upperTrimSupported, 1u);
  EXPECT_EQ(+dev.dynVar[0].minLowerTrim, -1.0f);
  EXPECT_EQ(+dev.dynVar[0].maxUpperTrim, 110.0f);
  EXPECT_EQ(+dev.dynVar[0].minTrimDiff, 5.0f);
  for (uint8_t supported : {0, 1, 2}) {
    a.data[1] = supported;
    ASSERT_EQ(deform(frame(a), &dev), 0);
    EXPECT_EQ(+dev.dynVar[0].lowerTrimSupported, supported == 1 ? 1u : 0u);
    EXPECT_EQ(+dev.dynVar[0].upperTrimSupported, supported == 2 ? 1u : 0u);
  }

  // Variables other than the four dynamic ones have no block: refused, nothing stored.
  for (uint8_t command : {80, 81}) {
    for (uint8_t variable : {4, 5, 250, 255}) {
      THartDev fresh = validRecord();
      const auto before = deviceData(fresh);
      a.command = command;
      a.data[0] = variable;
      EXPECT_EQ(deform(frame(a), &fresh), -2);
      EXPECT_EQ(deviceData(fresh), before);
    }
  }
}

TEST(HartDecode, MessageIsBoundedByItsField) {
  THartDev dev = validRecord();
  Answer a;
  a.command = 12;
  a.data.resize(24);
  const std::string text = "CALIBRATED 2010-12-31 BY LAB 7  ";
  ASSERT_EQ(StringToHART(text.c_str(), a.data.data()), 24);
  ASSERT_EQ(deform(frame(a), &dev), 0);
  EXPECT_EQ(std::string(+dev.message), text);

  // The longest answer the record takes unpacks to 104 characters; 40 of them are kept.
  a.data.assign(78, 0x82);
  std::memset(dev.message, 0x5A, sizeof dev.message);
  const auto calibBefore = dev.calibValueB;
  ASSERT_EQ(deform(frame(a), &dev), 0);
  EXPECT_EQ(std::strlen(+dev.message), 40u);
  EXPECT_EQ(+dev.message[40], 0);
  EXPECT_EQ(+dev.calibValueB, calibBefore);
}

TEST(HartDecode, ResponseCodeSetsTheTextAndStoresNothing) {
  THartDev dev = validRecord();
  Answer a;
  a.command = 35;
  a.responseCode = 9;
  a.data = bytes({12, 0x41, 0xA0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(deform(frame(a), &dev), 9);
  EXPECT_STREQ(dev.responseText, ToStrResponse(35, 9));
  EXPECT_EQ(+dev.rangeUnits, 0);
  EXPECT_EQ(+dev.upperRange, 0.0f);

  a.responseCode = 0;
  ASSERT_EQ(deform(frame(a), &dev), 0);
  EXPECT_EQ(+dev.responseText, nullptr);
  EXPECT_EQ(+dev.upperRange, 20.0f);
}

TEST(HartReceive, ResetAndValidity) {
  THartDev dev = validRecord();
  EXPECT_EQ(check_DeviceInfo(&dev), 0);
  Answer a;
  a.command = 2;
  a.data = bytes({0x40, 0x80, 0, 0, 0x41, 0xA0, 0, 0});
  const auto f = frame(a);
  for (size_t i = 0; i < 9; ++i) OnRxChar(&dev, f[i]);
  EXPECT_NE(+dev.rxState, 0u);
  ASSERT_EQ(ResetRx(&dev), 0);
  EXPECT_EQ(+dev.rxState, 0u);
  EXPECT_EQ(+dev.rxCount, 0);
  EXPECT_EQ(+dev.rxPtr, nullptr);
  EXPECT_EQ(+dev.rxDelimiter, 0);
  EXPECT_EQ(+dev.rxLongAddress[0], 0);

  for (auto spoil : {+[](THartDev& d) { d.size = 711 + 100; }, +[](THartDev& d) { d.endMark = 23164; }}) {
    THartDev bad = validRecord();
    spoil(bad);
    EXPECT_EQ(check_DeviceInfo(&bad), HART_ERR_RECORD);
    EXPECT_EQ(ResetRx(&bad), HART_ERR_RECORD);
    EXPECT_EQ(OnRxMsg(&bad), HART_ERR_RECORD);
    const THartDev copy = bad;
    EXPECT_EQ(OnRxChar(&bad, 0xFF), HART_ERR_RECORD);
    EXPECT_EQ(std::memcmp(&copy, &bad, sizeof bad), 0);
  }
  EXPECT_EQ(check_DeviceInfo(nullptr), HART_ERR_RECORD);
}

// Feeds a frame byte by byte; returns the result of each byte.
std::vector<int32_t> feed(THartDev* dev, const std::vector<uint8_t>& bytes) {
  std::vector<int32_t> results;
  for (uint8_t b : bytes) results.push_back(OnRxChar(dev, b));
  return results;
}

TEST(HartReceive, ShortAnswerKeepsTheSixBitPollingAddress) {
  struct Case {
    uint8_t addressByte;  // master bit, burst bit, polling address
    uint8_t polling;
  };
  const Case cases[] = {{0x80, 0}, {0x8F, 15}, {0x90, 16}, {0xAD, 45}, {0xBF, 63}, {0xC5, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.addressByte));
    Answer a;
    a.longAddress = false;
    a.address[0] = c.addressByte;
    a.data = command0Rev5();
    const auto f = frame(a);
    THartDev whole = validRecord();
    ASSERT_EQ(deform(f, &whole), 0);
    EXPECT_EQ(+whole.rxShortAddress, c.polling);
    THartDev bytewise = validRecord();
    EXPECT_EQ(feed(&bytewise, f).back(), 1);
    EXPECT_EQ(+bytewise.rxShortAddress, c.polling);
  }
}

TEST(HartOnRxChar, StoresWhatTheWholeFrameParserStores) {
  auto rev7 = Answer{};
  rev7.data = command0Rev7();
  auto vars = Answer{};
  vars.command = 3;
  vars.data = command3(4);
  auto tagged = Answer{};
  tagged.command = 13;
  tagged.data.assign(21, 0x55);
  auto shortFrame = Answer{};
  shortFrame.longAddress = false;
  shortFrame.address[0] = 0x87;
  shortFrame.data = command0Rev5();
  auto refused = Answer{};
  refused.command = 48;
  refused.responseCode = 16;

  for (const Answer* a : {&rev7, &vars, &tagged, &shortFrame, &refused}) {
    SCOPED_TRACE(static_cast<int>(a->command));
    const auto f = frame(*a);
    THartDev whole = validRecord();
    const int32_t r = deform(f, &whole);

    THartDev bytewise = validRecord();
    const auto results = feed(&bytewise, f);
    for (size_t i = 0; i + 1 < results.size(); ++i) EXPECT_EQ(results[i], 0) << i;
    EXPECT_EQ(results.back(), r == 0 ? 1 : -1000 - r);

    EXPECT_EQ(deviceData(bytewise), deviceData(whole));
    // The receive fields agree too (the running checksum is the byte-wise receiver's own).
    const size_t from = offsetof(THartDev, rxDelimiter), to = offsetof(THartDev, rxChecksum);
    EXPECT_EQ(std::memcmp(reinterpret_cast<uint8_t*>(&bytewise) + from,
                          reinterpret_cast<uint8_t*>(&whole) + from, to - from),
              0);
    if (r > 0) {
      EXPECT_STREQ(bytewise.responseText, whole.responseText);
    }
  }
}

TEST(HartOnRxChar, ExpansionBytesAreSkipped) {
  Answer a;
  a.command = 1;
  a.data = bytes({12, 0x40, 0x80, 0, 0});
  auto f = frame(a);
  // Delimiter with two expansion bytes (bits 5-6 = 2) after it; the checksum covers them too.
  const size_t d = 5;
  f[d] |= 0x40;
  f.insert(f.begin() + d + 1, {0xE1, 0xE2});
  f.back() = 0;
  for (size_t i = d; i + 1 < f.size(); ++i) f.back() ^= f[i];
  THartDev dev = validRecord();
  const auto results = feed(&dev, f);
  EXPECT_EQ(results.back(), 1);
  EXPECT_EQ(+dev.dynVar[0].value, 4.0f);
  EXPECT_EQ(std::vector<uint8_t>(+dev.rxLongAddress, +dev.rxLongAddress + 5),
            bytes({0xA6, 0x06, 0x01, 0x02, 0x03}));
}

TEST(HartOnRxChar, OversizedAndRepeatedFrames) {
  THartDev dev = validRecord();
  Answer big;
  big.command = 1;
  big.data.assign(120, 0x33);
  const auto bigFrame = frame(big);
  const auto results = feed(&dev, bigFrame);
  EXPECT_NE(std::find(results.begin(), results.end(), -2), results.end());
  EXPECT_EQ(+dev.dynVar[0].value, 0.0f);
  EXPECT_EQ(+dev.rxDataLength, 0);
  EXPECT_EQ(+dev.responsePreambles, 0);  // nothing after rxData was written

  // The receiver recovers for the next frame.
  Answer ok;
  ok.command = 1;
  ok.data = bytes({12, 0x41, 0xA0, 0, 0});
  auto okFrame = frame(ok);
  EXPECT_EQ(feed(&dev, okFrame).back(), 1);
  EXPECT_EQ(+dev.dynVar[0].value, 20.0f);

  // A byte equal to the checksum right after the frame is not a second frame end.
  dev.dynVar[0].value = 0.0f;
  EXPECT_EQ(OnRxChar(&dev, okFrame.back()), 0);
  EXPECT_EQ(+dev.dynVar[0].value, 0.0f);
  // A frame right after is received whole.
  EXPECT_EQ(feed(&dev, okFrame).back(), 1);
  EXPECT_EQ(+dev.dynVar[0].value, 20.0f);

  // A byte count below two is dropped like the whole-frame parser drops it.
  THartDev other = validRecord();
  const auto shortCount = bytes({0xFF, 0xFF, 0x06, 0x80, 15, 0});
  const auto r = feed(&other, shortCount);
  EXPECT_EQ(r.back(), -2);
  EXPECT_EQ(OnRxChar(&other, 0x06 ^ 0x80 ^ 15), 0);
  EXPECT_EQ(+other.alarmSelection, 0);
}

TEST(HartOnRxChar, BadChecksumStartsTheHuntAgain) {
  THartDev dev = validRecord();
  Answer a;
  a.command = 2;
  a.data = bytes({0x40, 0x80, 0, 0, 0x41, 0xA0, 0, 0});
  auto f = frame(a);
  f.back() ^= 0xFF;
  const auto results = feed(&dev, f);
  EXPECT_EQ(results.back(), 0);
  EXPECT_EQ(+dev.rxState, 0u);
  EXPECT_EQ(+dev.loopCurrent, 0.0f);
  EXPECT_EQ(+dev.rxCommand, 0);
}

}  // namespace

// How far received bytes are towards a frame: the fast search waits while a frame is not whole and
// takes it as soon as it is. Every prefix of a good answer is walked: until the last byte the frame
// is not whole and Hart_DeForm cannot decode it; once the byte count is in, `missing` says exactly
// how many bytes are still to come.
TEST(HartAnswerProgress, EveryPrefixOfAnAnswerUntilItsLastByte) {
  using quarn::hart::AnswerProgress;
  for (const bool longAddress : {true, false}) {
    SCOPED_TRACE(longAddress ? "long frame" : "short frame");
    Answer a;
    a.command = longAddress ? 13 : 0;
    a.longAddress = longAddress;
    a.address[0] = longAddress ? 0xA6 : 0x80;
    a.preambles = 3;
    a.data = longAddress ? std::vector<uint8_t>(21, 0x41) : command0Rev5();
    auto buf = bytes({0x13, 0x7E});  // noise before the frame
    const auto f = frame(a);
    buf.insert(buf.end(), f.begin(), f.end());
    const uint32_t delimiterAt = 2 + 3;
    const uint32_t countAt = delimiterAt + (longAddress ? 5 : 1) + 2;
    for (uint32_t n = 0; n <= buf.size(); ++n) {
      SCOPED_TRACE("bytes " + std::to_string(n));
      const AnswerProgress p = quarn::hart::answerProgress(buf.data(), n);
      const AnswerProgress::Stage expected = n < 3              ? AnswerProgress::NoFrame
                                             : n <= delimiterAt ? AnswerProgress::Preamble
                                             : n <= countAt     ? AnswerProgress::Header
                                             : n < buf.size()   ? AnswerProgress::Body
                                                                : AnswerProgress::Whole;
      EXPECT_EQ(p.stage, expected);
      if (expected == AnswerProgress::Body) {
        EXPECT_EQ(p.missing, buf.size() - n);
      }
      if (expected == AnswerProgress::Preamble || expected == AnswerProgress::Header) {
        EXPECT_LE(p.missing, buf.size() - n) << "never more than what the frame still needs";
      }
      THartDev dev = validRecord();
      const int32_t r = Hart_DeForm(buf.data(), n, &dev);
      if (expected == AnswerProgress::Whole)
        EXPECT_EQ(r, 0);
      else
        EXPECT_LT(r, 0);
    }
  }
}

TEST(HartAnswerProgress, AFrameRefusedOnItsByteCountIsWholeAtOnce) {
  using quarn::hart::AnswerProgress;
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      // Delimiter, short address, command 0, byte count 1: it can never carry its status bytes.
      {"byte count 1", bytes({0xFF, 0xFF, 0x06, 0x80, 0x00, 0x01})},
      // 83 = status bytes and 81 data bytes, more than a record holds.
      {"81 data bytes", bytes({0xFF, 0xFF, 0x06, 0x80, 0x00, 83})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const AnswerProgress p =
        quarn::hart::answerProgress(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
    EXPECT_EQ(p.stage, AnswerProgress::Whole);
  }
}
